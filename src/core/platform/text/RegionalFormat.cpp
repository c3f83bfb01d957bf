// Regional date/time settings from the patterns a system reports, and the process-wide settings
// every conversion uses. Where the patterns come from is RegionalFormatLocale.cpp (Linux) and
// RegionalFormatWin.cpp.
#include "core/platform/text/RegionalFormat.h"

#include <QList>
#include <QStringView>

#include <mutex>
#include <optional>

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

namespace {

// The strftime form of a Windows date or time picture: runs of d, M, y, h, H, m, s and t are
// fields, text in single quotes ('' a quote) is copied. Day and month names, eras and anything
// else without a numeric form become a conversion the reader above refuses.
QString StrftimeFromWindowsPicture(const QString& picture)
{
    QString out;
    const qsizetype n = picture.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = picture[i];
        if (c == u'\'') {
            for (++i; i < n; ++i) {
                if (picture[i] == u'\'') {
                    if (i + 1 < n && picture[i + 1] == u'\'') {
                        out += u'\'';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                out += picture[i] == u'%' ? QStringLiteral("%%") : QString(picture[i]);
            }
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && picture[i + run] == c)
            ++run;
        const bool one = run == 1;
        switch (c.unicode()) {
            case u'd':
                out += run > 2 ? QStringLiteral("%a") : one ? QStringLiteral("%-d") : QStringLiteral("%d");
                break;
            case u'M':
                out += run > 2 ? QStringLiteral("%b") : one ? QStringLiteral("%-m") : QStringLiteral("%m");
                break;
            case u'y':
                out += run > 2 ? QStringLiteral("%Y") : QStringLiteral("%y");
                break;
            case u'h':
                out += one ? QStringLiteral("%-I") : QStringLiteral("%I");
                break;
            case u'H':
                out += one ? QStringLiteral("%-H") : QStringLiteral("%H");
                break;
            case u'm':
                out += one ? QStringLiteral("%-M") : QStringLiteral("%M");
                break;
            case u's':
                out += one ? QStringLiteral("%-S") : QStringLiteral("%S");
                break;
            case u't':
                out += QStringLiteral("%p");
                break;
            case u'g':
                out += QStringLiteral("%Ec");
                break;
            case u'%':
                out += QString(run * 2, u'%');
                break;
            default:
                out += QString(run, c);
                break;
        }
        i += run;
    }
    return out;
}

}  // namespace

TFormatSettings FormatSettingsFromWindowsPictures(const QString& shortDate, const QString& timeFormat,
                                                  const QString& amString, const QString& pmString)
{
    return FormatSettingsFromStrftime(StrftimeFromWindowsPicture(shortDate), StrftimeFromWindowsPicture(timeFormat),
                                      amString, pmString);
}

// ---------------------------------------------------------------------------------------------
// The process-wide value

namespace {

struct CurrentSettings {
    std::mutex mutex;
    std::optional<TFormatSettings> fromLocale;
    const RegionalFormatSource* installed = nullptr;
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
    if (c.installed)
        return c.installed->formatSettings();
    if (!c.fromLocale)
        c.fromLocale = FormatSettingsForLocale(QByteArray(""));
    return *c.fromLocale;
}

void RegionalFormatSource::install(const RegionalFormatSource* source)
{
    CurrentSettings& c = current();
    std::lock_guard lock(c.mutex);
    c.installed = source;
}

}  // namespace platform
