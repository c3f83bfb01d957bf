// The check schedule as stored: when the last check was and how many hours must pass before the
// next automatic one. The update checker's interval gate and the update run read it; the run
// records each check.
#pragma once

#include <QDateTime>
#include <QtGlobal>

struct TCheckSchedule {
    QDateTime LastCheck;
    qint64 IntervalHours = 0;
    // True when the current time is at or after LastCheck plus the interval.
    bool Due() const;
};
// Reads the schedule. A missing "LastCheckDateTime" means its default moment; a stored text that
// the user's regional format cannot read raises EVorlandtError.
TCheckSchedule ReadCheckSchedule();
// Records the current time as the last check, in the user's regional date and time format, which
// is how ReadCheckSchedule reads it.
void RecordCheckTime();
