// Lenient reading of dates and times in the order and with the separators of the regional settings.
#include "core/platform/text/DateParse.h"

#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"

#include <QStringView>

namespace platform {

namespace {

enum class DateOrder { DMY, MDY, YMD };

DateOrder dateOrderOf(QStringView format)
{
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'' || c == u'"') {
            const qsizetype close = format.indexOf(c, i + 1);
            if (close < 0)
                break;
            i = close;
            continue;
        }
        switch (AsciiUpper(c)) {
            case u'Y':
                return DateOrder::YMD;
            case u'M':
                return DateOrder::MDY;
            case u'D':
                return DateOrder::DMY;
            default:
                break;
        }
    }
    return DateOrder::DMY;
}

class Scanner {
public:
    explicit Scanner(QStringView text) : FText(text) {}

    void skipBlanks()
    {
        while (FPos < FText.size() && FText[FPos] == u' ')
            ++FPos;
    }

    bool atEnd()
    {
        skipBlanks();
        return FPos >= FText.size();
    }

    // Consecutive ASCII digits, at most maxDigits of them.
    bool number(int maxDigits, int& value, int& digits)
    {
        skipBlanks();
        value = 0;
        digits = 0;
        while (FPos < FText.size() && FText[FPos] >= u'0' && FText[FPos] <= u'9') {
            if (++digits > maxDigits)
                return false;
            value = value * 10 + (FText[FPos].unicode() - u'0');
            ++FPos;
        }
        return digits > 0;
    }

    bool character(QChar c)
    {
        skipBlanks();
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }

    bool word(QStringView w)
    {
        skipBlanks();
        if (w.isEmpty() || FText.mid(FPos, w.size()).compare(w, Qt::CaseInsensitive) != 0)
            return false;
        FPos += w.size();
        return true;
    }

private:
    QStringView FText;
    qsizetype FPos = 0;
};

enum class Marker { None, AM, PM };

Marker scanMarker(Scanner& s, const TFormatSettings& settings)
{
    if (s.word(settings.TimeAMString.trimmed()))
        return Marker::AM;
    if (s.word(settings.TimePMString.trimmed()))
        return Marker::PM;
    if (s.word(u"AM"))
        return Marker::AM;
    if (s.word(u"PM"))
        return Marker::PM;
    return Marker::None;
}

// Delphi's window: a year of one or two digits lands within the 50 years from
// (current year − 50) on.
int expandTwoDigitYear(int year)
{
    const int windowStart = Clock::now().date().year() - 50;
    int full = windowStart / 100 * 100 + year;
    if (full < windowStart)
        full += 100;
    return full;
}

std::optional<QDate> scanDate(Scanner& s, const TFormatSettings& settings)
{
    int values[3];
    int digits[3];
    for (int k = 0; k < 3; ++k) {
        if (k > 0 && !s.character(settings.DateSeparator))
            return std::nullopt;
        if (!s.number(4, values[k], digits[k]))
            return std::nullopt;
    }
    int yi = 2, mi = 1, di = 0;
    switch (dateOrderOf(settings.ShortDateFormat)) {
        case DateOrder::DMY:
            di = 0, mi = 1, yi = 2;
            break;
        case DateOrder::MDY:
            mi = 0, di = 1, yi = 2;
            break;
        case DateOrder::YMD:
            yi = 0, mi = 1, di = 2;
            break;
    }
    if (digits[di] > 2 || digits[mi] > 2)
        return std::nullopt;
    const int year = digits[yi] <= 2 ? expandTwoDigitYear(values[yi]) : values[yi];
    if (year < 1 || !QDate::isValid(year, values[mi], values[di]))
        return std::nullopt;
    return QDate(year, values[mi], values[di]);
}

std::optional<QTime> scanTime(Scanner& s, const TFormatSettings& settings)
{
    Marker marker = scanMarker(s, settings);
    int hour = 0, minute = 0, second = 0, digits = 0;
    if (!s.number(2, hour, digits) || !s.character(settings.TimeSeparator) || !s.number(2, minute, digits))
        return std::nullopt;
    if (s.character(settings.TimeSeparator) && !s.number(2, second, digits))
        return std::nullopt;
    if (marker == Marker::None)
        marker = scanMarker(s, settings);
    if (marker != Marker::None) {
        if (hour > 12)
            return std::nullopt;
        if (marker == Marker::AM && hour == 12)
            hour = 0;
        else if (marker == Marker::PM && hour < 12)
            hour += 12;
    }
    if (!QTime::isValid(hour, minute, second))
        return std::nullopt;
    return QTime(hour, minute, second);
}

// A wall-clock time skipped by a daylight-saving change (02:30 on the morning the clocks go
// forward) has no moment of its own; it still names a real point in time, read with the offset
// that was valid before the change, which lands just after the gap.
std::optional<QDateTime> LocalMoment(const QDate& date, const QTime& time)
{
    const QDateTime direct(date, time);
    if (direct.isValid())
        return direct;
    const QDateTime dayBefore(date.addDays(-1), time);
    if (!dayBefore.isValid())
        return std::nullopt;
    const QDateTime shifted =
        QDateTime(date, time, Qt::OffsetFromUTC, dayBefore.offsetFromUtc()).toLocalTime();
    if (!shifted.isValid())
        return std::nullopt;
    return shifted;
}

}  // namespace

std::optional<QDate> TryStrToDate(const QString& text, const TFormatSettings& settings)
{
    const QString trimmed = text.trimmed();
    Scanner s(trimmed);
    const auto date = scanDate(s, settings);
    if (!date || !s.atEnd())
        return std::nullopt;
    return date;
}

std::optional<QDateTime> TryStrToDateTime(const QString& text, const TFormatSettings& settings)
{
    const QString trimmed = text.trimmed();
    Scanner s(trimmed);
    const auto date = scanDate(s, settings);
    if (!date)
        return std::nullopt;
    QTime time(0, 0);
    if (!s.atEnd()) {
        const auto scanned = scanTime(s, settings);
        if (!scanned || !s.atEnd())
            return std::nullopt;
        time = *scanned;
    }
    return LocalMoment(*date, time);
}

QDate StrToDate(const QString& text, const TFormatSettings& settings)
{
    if (const auto date = TryStrToDate(text, settings))
        return *date;
    throw EVorlandtError(QStringLiteral("'%1' ist kein gültiges Datum").arg(text),
                         EVorlandtError::Kind::Convert);
}

QDateTime StrToDateTime(const QString& text, const TFormatSettings& settings)
{
    if (const auto moment = TryStrToDateTime(text, settings))
        return *moment;
    throw EVorlandtError(QStringLiteral("'%1' ist kein gültiges Datum und Uhrzeit").arg(text),
                         EVorlandtError::Kind::Convert);
}

}  // namespace platform
