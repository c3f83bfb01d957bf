// Moments written as text in Delphi-style patterns, with the separators and AM/PM strings of the
// regional settings.
#include "core/platform/text/DateFormat.h"

#include <QStringView>

namespace platform {

namespace {

bool matchesAt(QStringView pattern, qsizetype i, QStringView word)
{
    return pattern.mid(i, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

// Whether the pattern holds an AM/PM specifier outside quoted text: its hours are then written
// on the 12-hour clock, wherever the marker stands, so that "ampm hh:nn" reads back too.
bool hasAmPmSpecifier(QStringView pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\'' || c == u'"') {
            const qsizetype close = pattern.indexOf(c, i + 1);
            if (close < 0)
                return false;
            i = close;
            continue;
        }
        if (AsciiUpper(c) == u'A' && (matchesAt(pattern, i, u"am/pm") || matchesAt(pattern, i, u"a/p") ||
                                      matchesAt(pattern, i, u"ampm")))
            return true;
    }
    return false;
}

void appendNumber(QString& out, qint64 value, int width)
{
    if (value < 0) {
        out += u'-';
        value = -value;
    }
    out += QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

QString formatParts(QStringView pattern, const QDate& date, const QTime& time,
                    const TFormatSettings& settings)
{
    QString out;
    out.reserve(pattern.size() + 8);
    const int year = date.isValid() ? date.year() : 0;
    const int month = date.isValid() ? date.month() : 0;
    const int day = date.isValid() ? date.day() : 0;
    const QTime t = time.isValid() ? time : QTime(0, 0);

    const bool twelveHour = hasAmPmSpecifier(pattern);
    char16_t lastToken = 0;
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern[i];
        if (c == u'\'' || c == u'"') {
            const qsizetype close = pattern.indexOf(c, i + 1);
            const qsizetype end = close < 0 ? n : close;
            out += pattern.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            continue;
        }
        if (c == u'/') {
            out += settings.DateSeparator;
            ++i;
            continue;
        }
        if (c == u':') {
            out += settings.TimeSeparator;
            ++i;
            continue;
        }

        char16_t token = AsciiUpper(c);
        if (token < u'A' || token > u'Z') {
            out += c;
            ++i;
            continue;
        }
        if (token == u'M' && lastToken == u'H')
            token = u'N';
        lastToken = token;

        // The length of the run of this letter, in either case.
        qsizetype count = 1;
        while (i + count < n && AsciiUpper(pattern[i + count]) == AsciiUpper(c))
            ++count;

        switch (token) {
            case u'Y':
                if (count <= 2)
                    appendNumber(out, (year < 0 ? -year : year) % 100, 2);
                else
                    appendNumber(out, year, 4);
                break;
            case u'M':
                appendNumber(out, month, count >= 2 ? 2 : 1);
                break;
            case u'D':
                appendNumber(out, day, count >= 2 ? 2 : 1);
                break;
            case u'H': {
                int hour = t.hour();
                if (twelveHour) {
                    hour %= 12;
                    if (hour == 0)
                        hour = 12;
                }
                appendNumber(out, hour, count >= 2 ? 2 : 1);
                break;
            }
            case u'N':
                appendNumber(out, t.minute(), count >= 2 ? 2 : 1);
                break;
            case u'S':
                appendNumber(out, t.second(), count >= 2 ? 2 : 1);
                break;
            case u'Z':
                appendNumber(out, t.msec(), count >= 3 ? 3 : 1);
                break;
            case u'A': {
                const bool pm = t.hour() >= 12;
                if (matchesAt(pattern, i, u"am/pm")) {
                    out += pattern.mid(pm ? i + 3 : i, 2);
                    i += 5;
                } else if (matchesAt(pattern, i, u"a/p")) {
                    out += pattern.mid(pm ? i + 2 : i, 1);
                    i += 3;
                } else if (matchesAt(pattern, i, u"ampm")) {
                    out += pm ? settings.TimePMString : settings.TimeAMString;
                    i += 4;
                } else {
                    out += c;
                    i += 1;
                }
                continue;
            }
            default:
                // Letters without a meaning here are copied as they are.
                out += pattern.mid(i, count);
                break;
        }
        i += count;
    }
    return out;
}

}  // namespace

QString FormatDateTime(const QString& pattern, const QDateTime& moment, const TFormatSettings& settings)
{
    return formatParts(pattern, moment.date(), moment.time(), settings);
}

QString FormatDateTime(const QString& pattern, const QDate& date, const TFormatSettings& settings)
{
    return formatParts(pattern, date, QTime(0, 0), settings);
}

QString DateToStr(const QDate& date, const TFormatSettings& settings)
{
    return FormatDateTime(settings.ShortDateFormat, date, settings);
}

QString DateTimeToStr(const QDateTime& moment, const TFormatSettings& settings)
{
    return formatParts(settings.ShortDateFormat, moment.date(), moment.time(), settings) + u' ' +
           formatParts(settings.LongTimeFormat, moment.date(), moment.time(), settings);
}

}  // namespace platform
