// The user's regional date and time format: the settings the conversions between moments and text
// go through (core/platform/text/DateFormat.h writes, DateParse.h reads), taken from LC_TIME on
// Linux and from the user's regional settings on Windows.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

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

// Builds settings from the pictures Windows reports (LOCALE_SSHORTDATE such as "dd.MM.yyyy",
// LOCALE_STIMEFORMAT such as "h:mm:ss tt", LOCALE_S1159, LOCALE_S2359), with the same fallbacks.
TFormatSettings FormatSettingsFromWindowsPictures(const QString& shortDate, const QString& timeFormat,
                                                  const QString& amString, const QString& pmString);

// The conventions of a locale name; "" means the user's. On Linux the LC_TIME conventions (the
// C/POSIX locale and names that cannot be loaded give the German settings), on Windows the
// locale's short date and time formats ("de-DE"; an unknown name gives the German settings).
TFormatSettings FormatSettingsForLocale(const QByteArray& localeName);

// Where the process-wide settings come from, so that a test can stand other settings in for the
// user's locale.
class RegionalFormatSource {
public:
    virtual ~RegionalFormatSource() = default;

protected:
    RegionalFormatSource() = default;
    RegionalFormatSource(const RegionalFormatSource&) = delete;
    RegionalFormatSource& operator=(const RegionalFormatSource&) = delete;

    virtual TFormatSettings formatSettings() const = 0;

    // Makes `source` (nullptr: the user's locale) the program's source; it must outlive its turn.
    // A source changes what it answers only while it is not installed: the install that follows
    // publishes the change to every thread.
    static void install(const RegionalFormatSource* source);

private:
    friend TFormatSettings FormatSettings();
};

// The process-wide settings: the installed source's, or the user's LC_TIME, read once.
TFormatSettings FormatSettings();

// A format pattern's letter in upper case. Specifiers are ASCII letters in either case; the
// user's locale must not fold them (a Turkish "i" would stop being a specifier).
inline char16_t AsciiUpper(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? static_cast<char16_t>(u - 32) : u;
}

}  // namespace platform
