// The stored check schedule: the time of the last check in the user's regional format and the
// interval in hours.
#include "core/settings/CheckSchedule.h"

#include "core/platform/Clock.h"
#include "core/platform/text/DateFormat.h"
#include "core/platform/text/DateParse.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

namespace {

// A moment as its wall-clock reading. The gate compares such readings: the stored text carries
// no time zone, and a change to or from daylight saving time must not move the gate by an hour.
QDateTime WallClock(const QDateTime& moment)
{
    return QDateTime(moment.date(), moment.time(), Qt::UTC);
}

}  // namespace

TCheckSchedule ReadCheckSchedule()
{
    TCheckSchedule schedule;
    // A value never written means the first of January 2012 in any locale: the default text is
    // German and would not read back under another regional format.
    if (ValueExists(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime))
        schedule.LastCheck = platform::StrToDateTime(
            ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                            SettingsKeys::LastCheckDateTimeDefault));
    else
        schedule.LastCheck = QDateTime(QDate(2012, 1, 1), QTime(0, 0));
    schedule.IntervalHours =
        ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::IntervalInHours,
                         SettingsKeys::IntervalInHoursDefault);
    return schedule;
}

bool TCheckSchedule::Due() const
{
    // At most 2^31 hours: 7.7e15 milliseconds, far inside the range of a date and time.
    return WallClock(platform::Clock::now()) >= WallClock(LastCheck).addSecs(IntervalHours * 60 * 60);
}

void RecordCheckTime()
{
    WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                     platform::DateTimeToStr(platform::Clock::now()));
}
