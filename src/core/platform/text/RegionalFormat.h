// The user's regional date and time format, and the conversions between moments and text that
// stored dates and log lines go through (format patterns in the Delphi letters the suite uses).
#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace platform {

// Patterns use d dd m mm yy yyyy h hh n nn s ss z zzz ampm am/pm a/p; "/" and ":" stand for the
// separators; text in '...' or "..." and every other character are copied as they are.
struct TFormatSettings {
    QString ShortDateFormat;
    QString LongTimeFormat;
    QChar DateSeparator;
    QChar TimeSeparator;
    QString TimeAMString;
    QString TimePMString;

    // dd.mm.yyyy and hh:nn:ss: the suite's home conventions, used wherever the locale gives
    // nothing we can both write and read back.
    static TFormatSettings German();

    friend bool operator==(const TFormatSettings&, const TFormatSettings&) = default;
};

// Builds settings from the strftime patterns a locale reports (D_FMT, T_FMT, AM_STR, PM_STR).
// The date and the time part each fall back to the German one when their pattern cannot be
// expressed so that the text written reads back unambiguously.
TFormatSettings FormatSettingsFromStrftime(const QString& dateFormat, const QString& timeFormat,
                                           const QString& amString, const QString& pmString);

// The LC_TIME conventions of a locale name; "" means the one the environment selects. The
// C/POSIX locale and names that cannot be loaded give the German settings.
TFormatSettings FormatSettingsForLocale(const QByteArray& localeName);

// The process-wide settings: the user's LC_TIME, read once, unless a test set others.
TFormatSettings FormatSettings();
// Tests only: replaces the process-wide settings; nullopt returns to the user's locale.
void SetFormatSettingsForTesting(const std::optional<TFormatSettings>& settings);

QString FormatDateTime(const QString& pattern, const QDateTime& moment,
                       const TFormatSettings& settings = FormatSettings());
QString FormatDateTime(const QString& pattern, const QDate& date,
                       const TFormatSettings& settings = FormatSettings());
// The short date.
QString DateToStr(const QDate& date, const TFormatSettings& settings = FormatSettings());
// Short date, a blank and the long time, also at midnight.
QString DateTimeToStr(const QDateTime& moment, const TFormatSettings& settings = FormatSettings());

// Reading is lenient: day, month and year in the order of the short date format, split by the
// date separator, one or two digits for day and month, a year of up to four digits (one or two
// digits fall into the 50-year window around the clock's current year), an optional time
// h:n[:s] with an optional AM/PM marker, blanks around the parts ignored.
std::optional<QDate> TryStrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());
std::optional<QDateTime> TryStrToDateTime(const QString& text,
                                          const TFormatSettings& settings = FormatSettings());

// As above; raise EVorlandtError (kind Convert) naming the text.
QDate StrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());
QDateTime StrToDateTime(const QString& text, const TFormatSettings& settings = FormatSettings());

}  // namespace platform
