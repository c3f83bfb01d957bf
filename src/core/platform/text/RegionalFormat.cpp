// Regional date/time settings from LC_TIME, Delphi-style pattern formatting and lenient reading.
#include "core/platform/text/RegionalFormat.h"

#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"

#include <QList>
#include <QStringView>

#include <langinfo.h>
#include <locale.h>

#include <mutex>

namespace platform {

TFormatSettings TFormatSettings::German()
{
    return TFormatSettings{QStringLiteral("dd.mm.yyyy"), QStringLiteral("hh:nn:ss"), u'.', u':',
                           QStringLiteral("AM"),         QStringLiteral("PM")};
}

// ---------------------------------------------------------------------------------------------
// strftime patterns → settings

namespace {

enum class FieldKind { Day, Month, Year, Hour24, Hour12, Minute, Second, AmPm };

struct StrftimeToken {
    bool isField = false;
    FieldKind kind = FieldKind::Day;
    QString text;  // the Delphi letters for a field, the characters for literal text
};

// Splits a strftime pattern into fields and literal runs; nullopt when a conversion has no
// equivalent we can read back (names, eras, time zones, week numbers...).
std::optional<QList<StrftimeToken>> tokenizeStrftime(const QString& pattern, int depth = 0)
{
    QList<StrftimeToken> tokens;
    auto addLiteral = [&tokens](QStringView text) {
        if (!tokens.isEmpty() && !tokens.last().isField)
            tokens.last().text += text;
        else
            tokens.append(StrftimeToken{false, FieldKind::Day, text.toString()});
    };
    auto addField = [&tokens](FieldKind kind, const QString& letters) {
        tokens.append(StrftimeToken{true, kind, letters});
    };
    auto addExpansion = [&](const QString& expansion) {
        const auto inner = tokenizeStrftime(expansion, depth + 1);
        if (!inner)
            return false;
        for (const StrftimeToken& t : *inner) {
            if (t.isField)
                tokens.append(t);
            else
                addLiteral(t.text);
        }
        return true;
    };
    if (depth > 2)
        return std::nullopt;

    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (pattern[i] != u'%') {
            addLiteral(QStringView(pattern).mid(i, 1));
            continue;
        }
        ++i;
        // glibc flags: '-' and '_' drop the zero padding, '0' keeps it.
        bool padded = true;
        while (i < n && (pattern[i] == u'-' || pattern[i] == u'_' || pattern[i] == u'0' ||
                         pattern[i] == u'^' || pattern[i] == u'#')) {
            if (pattern[i] == u'-' || pattern[i] == u'_')
                padded = false;
            else if (pattern[i] == u'0')
                padded = true;
            ++i;
        }
        // 'O' asks for the locale's alternative digits: we write Western digits either way.
        // 'E' selects an era-based form, which has no equivalent here.
        if (i < n && pattern[i] == u'O')
            ++i;
        if (i >= n || pattern[i] == u'E')
            return std::nullopt;
        const auto pick = [padded](const char* two, const char* one) {
            return QString::fromLatin1(padded ? two : one);
        };
        switch (pattern[i].unicode()) {
            case u'd':
                addField(FieldKind::Day, pick("dd", "d"));
                break;
            case u'e':
                addField(FieldKind::Day, QStringLiteral("d"));
                break;
            case u'm':
                addField(FieldKind::Month, pick("mm", "m"));
                break;
            case u'Y':
                addField(FieldKind::Year, QStringLiteral("yyyy"));
                break;
            case u'y':
                addField(FieldKind::Year, QStringLiteral("yy"));
                break;
            case u'H':
                addField(FieldKind::Hour24, pick("hh", "h"));
                break;
            case u'k':
                addField(FieldKind::Hour24, QStringLiteral("h"));
                break;
            case u'I':
                addField(FieldKind::Hour12, pick("hh", "h"));
                break;
            case u'l':
                addField(FieldKind::Hour12, QStringLiteral("h"));
                break;
            case u'M':
                addField(FieldKind::Minute, pick("nn", "n"));
                break;
            case u'S':
                addField(FieldKind::Second, pick("ss", "s"));
                break;
            case u'p':
            case u'P':
                addField(FieldKind::AmPm, QStringLiteral("ampm"));
                break;
            case u'D':
                if (!addExpansion(QStringLiteral("%m/%d/%y")))
                    return std::nullopt;
                break;
            case u'F':
                if (!addExpansion(QStringLiteral("%Y-%m-%d")))
                    return std::nullopt;
                break;
            case u'T':
                if (!addExpansion(QStringLiteral("%H:%M:%S")))
                    return std::nullopt;
                break;
            case u'R':
                if (!addExpansion(QStringLiteral("%H:%M")))
                    return std::nullopt;
                break;
            case u'r':
                if (!addExpansion(QStringLiteral("%I:%M:%S %p")))
                    return std::nullopt;
                break;
            case u'%':
                addLiteral(u"%");
                break;
            case u't':
                addLiteral(u"\t");
                break;
            case u'n':
                addLiteral(u"\n");
                break;
            default:
                return std::nullopt;
        }
    }
    return tokens;
}

// A separator must survive both directions: not a digit or letter (those would read as
// fields), not a blank (blanks are skipped when reading), not a quote and not the other
// separator placeholder.
bool usableSeparator(const QString& literal, QChar otherPlaceholder)
{
    if (literal.size() != 1)
        return false;
    const QChar c = literal[0];
    return !c.isLetterOrNumber() && !c.isSpace() && c != u'\'' && c != u'"' && c != otherPlaceholder &&
           c.unicode() >= 0x21;
}

bool isBlankRun(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c != u' ')
            return false;
    }
    return true;
}

struct DatePart {
    QString format;
    QChar separator;
};

std::optional<DatePart> translateDate(const QString& pattern)
{
    const auto tokens = tokenizeStrftime(pattern);
    if (!tokens || tokens->size() != 5)
        return std::nullopt;
    const StrftimeToken& f1 = (*tokens)[0];
    const StrftimeToken& s1 = (*tokens)[1];
    const StrftimeToken& f2 = (*tokens)[2];
    const StrftimeToken& s2 = (*tokens)[3];
    const StrftimeToken& f3 = (*tokens)[4];
    if (!f1.isField || s1.isField || !f2.isField || s2.isField || !f3.isField)
        return std::nullopt;
    for (const StrftimeToken* f : {&f1, &f2, &f3}) {
        if (f->kind != FieldKind::Day && f->kind != FieldKind::Month && f->kind != FieldKind::Year)
            return std::nullopt;
    }
    if (f1.kind == f2.kind || f1.kind == f3.kind || f2.kind == f3.kind)
        return std::nullopt;
    if (s1.text != s2.text || !usableSeparator(s1.text, u':'))
        return std::nullopt;
    const QChar sep = s1.text[0];
    return DatePart{f1.text + sep + f2.text + sep + f3.text, sep};
}

struct TimePart {
    QString format;
    QChar separator;
};

std::optional<TimePart> translateTime(const QString& pattern, const QString& am, const QString& pm)
{
    auto tokens = tokenizeStrftime(pattern);
    if (!tokens || tokens->isEmpty())
        return std::nullopt;

    // An AM/PM marker may stand before or after the clock, apart from it by blanks.
    QString leading;
    QString trailing;
    if ((*tokens)[0].isField && (*tokens)[0].kind == FieldKind::AmPm) {
        if (tokens->size() < 2 || (*tokens)[1].isField || !isBlankRun((*tokens)[1].text))
            return std::nullopt;
        leading = QStringLiteral("ampm") + (*tokens)[1].text;
        tokens->remove(0, 2);
    } else if (tokens->size() >= 2 && tokens->last().isField && tokens->last().kind == FieldKind::AmPm) {
        const StrftimeToken& gap = (*tokens)[tokens->size() - 2];
        if (gap.isField || !isBlankRun(gap.text))
            return std::nullopt;
        trailing = gap.text + QStringLiteral("ampm");
        tokens->remove(tokens->size() - 2, 2);
    }
    const bool hasMarker = !leading.isEmpty() || !trailing.isEmpty();

    if (tokens->size() != 3 && tokens->size() != 5)
        return std::nullopt;
    const StrftimeToken& hour = (*tokens)[0];
    const StrftimeToken& sep1 = (*tokens)[1];
    const StrftimeToken& minute = (*tokens)[2];
    if (!hour.isField || sep1.isField || !minute.isField || minute.kind != FieldKind::Minute)
        return std::nullopt;
    if (hour.kind != FieldKind::Hour24 && hour.kind != FieldKind::Hour12)
        return std::nullopt;
    if (!usableSeparator(sep1.text, u'/'))
        return std::nullopt;
    QString format = hour.text + sep1.text + minute.text;
    if (tokens->size() == 5) {
        const StrftimeToken& sep2 = (*tokens)[3];
        const StrftimeToken& second = (*tokens)[4];
        if (sep2.isField || sep2.text != sep1.text || !second.isField || second.kind != FieldKind::Second)
            return std::nullopt;
        format += sep2.text + second.text;
    }

    // A 12-hour clock is readable only with two distinct markers; a marker beside a 24-hour
    // clock would turn it into a 12-hour one when written.
    const bool twelveHour = hour.kind == FieldKind::Hour12;
    if (twelveHour != hasMarker)
        return std::nullopt;
    if (twelveHour && (am.trimmed().isEmpty() || pm.trimmed().isEmpty() ||
                       am.trimmed().compare(pm.trimmed(), Qt::CaseInsensitive) == 0))
        return std::nullopt;
    return TimePart{leading + format + trailing, sep1.text[0]};
}

}  // namespace

TFormatSettings FormatSettingsFromStrftime(const QString& dateFormat, const QString& timeFormat,
                                           const QString& amString, const QString& pmString)
{
    TFormatSettings settings = TFormatSettings::German();
    if (const auto date = translateDate(dateFormat)) {
        settings.ShortDateFormat = date->format;
        settings.DateSeparator = date->separator;
    }
    if (const auto time = translateTime(timeFormat, amString, pmString)) {
        settings.LongTimeFormat = time->format;
        settings.TimeSeparator = time->separator;
        if (!amString.isEmpty())
            settings.TimeAMString = amString;
        if (!pmString.isEmpty())
            settings.TimePMString = pmString;
    }
    return settings;
}

TFormatSettings FormatSettingsForLocale(const QByteArray& localeName)
{
    // LC_CTYPE comes along for the code set the LC_TIME strings are written in.
    const locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, localeName.constData(), locale_t(nullptr));
    if (loc == locale_t(nullptr))
        return TFormatSettings::German();
    struct LocaleRelease {
        locale_t loc;
        ~LocaleRelease() { freelocale(loc); }
    } release{loc};

    const QByteArray name = nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), loc);
    if (name.isEmpty() || name == "C" || name == "POSIX" || name.startsWith("C."))
        return TFormatSettings::German();

    const bool utf8 = QByteArray(nl_langinfo_l(CODESET, loc)).toUpper().replace("-", "") == "UTF8";
    auto text = [&](nl_item item) {
        const char* raw = nl_langinfo_l(item, loc);
        return utf8 ? QString::fromUtf8(raw) : QString::fromLocal8Bit(raw);
    };
    return FormatSettingsFromStrftime(text(D_FMT), text(T_FMT), text(AM_STR), text(PM_STR));
}

// ---------------------------------------------------------------------------------------------
// The process-wide value

namespace {

struct CurrentSettings {
    std::mutex mutex;
    std::optional<TFormatSettings> fromLocale;
    std::optional<TFormatSettings> forTesting;
};

CurrentSettings& current()
{
    static CurrentSettings value;
    return value;
}

}  // namespace

TFormatSettings FormatSettings()
{
    CurrentSettings& c = current();
    std::lock_guard lock(c.mutex);
    if (c.forTesting)
        return *c.forTesting;
    if (!c.fromLocale)
        c.fromLocale = FormatSettingsForLocale(QByteArray(""));
    return *c.fromLocale;
}

void SetFormatSettingsForTesting(const std::optional<TFormatSettings>& settings)
{
    CurrentSettings& c = current();
    std::lock_guard lock(c.mutex);
    c.forTesting = settings;
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

inline char16_t asciiUpper(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? static_cast<char16_t>(u - 32) : u;
}

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
        if (asciiUpper(c) == u'A' && (matchesAt(pattern, i, u"am/pm") || matchesAt(pattern, i, u"a/p") ||
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

        char16_t token = asciiUpper(c);
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
        while (i + count < n && asciiUpper(pattern[i + count]) == asciiUpper(c))
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

// ---------------------------------------------------------------------------------------------
// Reading

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
        switch (asciiUpper(c)) {
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
