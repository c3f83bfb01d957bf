// Reading and writing registry export files (.reg text) without touching the store.
#include "core/platform/store/RegFile.h"

#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"

#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>

namespace regfile {

namespace {

using platform::TRawValue;
using platform::TStoreOp;
using platform::TValueKind;

constexpr char16_t OldSignature[] = u"REGEDIT4";

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The store refuses names it could not compare reliably; catching them here gives the line.
bool IsStorableName(QStringView name)
{
    return !name.contains(QChar(0)) && name.isValidUtf16();
}

QStringView TrimBlanks(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.sliced(begin, end - begin);
}

QStringView TrimLeftBlanks(QStringView s)
{
    qsizetype begin = 0;
    while (begin < s.size() && IsBlank(s[begin]))
        ++begin;
    return s.sliced(begin);
}

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Keeps every code unit as it is, lone surrogates included: the registry does not validate
// UTF-16 and neither does the round trip through a file.
QString DecodeUtf16(const QByteArray& bytes, qsizetype offset, bool littleEndian)
{
    const qsizetype units = (bytes.size() - offset) / 2;
    QString text(units, Qt::Uninitialized);
    const auto* src = reinterpret_cast<const uchar*>(bytes.constData() + offset);
    for (qsizetype i = 0; i < units; ++i) {
        const quint16 unit =
            littleEndian ? qFromLittleEndian<quint16>(src + 2 * i) : qFromBigEndian<quint16>(src + 2 * i);
        text[i] = QChar(unit);
    }
    return text;
}

std::optional<QString> DecodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString DecodeFile(const QByteArray& bytes, const QString& fileName)
{
    const auto fail = [&](const QString& what) {
        throw EVorlandtError(QStringLiteral("%1: %2").arg(fileName, what), EVorlandtError::Kind::Convert);
    };
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        if (bytes.size() % 2 != 0)
            fail(QStringLiteral("UTF-16-Text mit ungerader Anzahl Bytes, die Datei ist abgeschnitten"));
        return DecodeUtf16(bytes, 2, bytes.startsWith("\xFF\xFE"));
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        auto text = DecodeUtf8(QByteArrayView(bytes).sliced(3));
        if (!text)
            fail(QStringLiteral("kein gültiger UTF-8-Text trotz UTF-8-Kennung"));
        return *text;
    }
    // Without a byte-order mark: UTF-8 when the bytes are valid UTF-8 (what editors and our
    // own terminal export write), else the ANSI code page that old REGEDIT4 files use.
    if (auto text = DecodeUtf8(bytes))
        return *text;
    return platform::DecodeWindows1252(bytes);
}

QByteArray Utf16LeWithNul(QStringView text)
{
    QByteArray data((text.size() + 1) * 2, '\0');
    auto* dst = reinterpret_cast<uchar*>(data.data());
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text[i].unicode(), dst + 2 * i);
    return data;
}

// Parses a byte list starting at `pos`; on failure `errorPos` says where it went wrong.
std::optional<QByteArray> ParseHexList(QStringView s, qsizetype pos, qsizetype& errorPos)
{
    QByteArray bytes;
    bytes.reserve((s.size() - pos) / 3 + 1);
    const qsizetype n = s.size();
    const auto skipBlanks = [&] {
        while (pos < n && IsBlank(s[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < n) {
        const qsizetype start = pos;
        int value = 0;
        while (pos < n && HexDigit(s[pos]) >= 0 && pos - start < 3) {
            value = value * 16 + HexDigit(s[pos]);
            ++pos;
        }
        if (pos == start || pos - start > 2) {
            errorPos = start;
            return std::nullopt;
        }
        bytes.append(static_cast<char>(value));
        skipBlanks();
        if (pos == n)
            break;
        if (s[pos] != u',') {
            errorPos = start;
            return std::nullopt;
        }
        ++pos;
        skipBlanks();
    }
    return bytes;
}

class TRegParser {
public:
    TRegParser(QStringView text, const QString& fileName) : FText(text), FFileName(fileName) {}

    TRegImport run()
    {
        QStringView line;
        bool signatureSeen = false;
        while (nextLine(line)) {
            line = TrimBlanks(line);
            if (line.isEmpty())
                continue;
            if (!signatureSeen) {
                if (line != QStringView(Signature) && line != QStringView(OldSignature))
                    fail(FLineNo, QStringLiteral("erwartet \"%1\" als erste Zeile, gefunden: %2")
                                      .arg(QStringView(Signature), Excerpt(line)));
                signatureSeen = true;
            } else if (line.startsWith(u';')) {
                continue;
            } else if (line.startsWith(u'[')) {
                parseKeyLine(line);
            } else if (line.startsWith(u'"') || line.startsWith(u'@')) {
                parseValueLine(line);
            } else {
                fail(FLineNo, QStringLiteral("ungültige Zeile: %1").arg(Excerpt(line)));
            }
        }
        if (!signatureSeen)
            fail(std::max<qsizetype>(FLineNo, 1),
                 QStringLiteral("die Datei ist leer, erwartet \"%1\"").arg(QStringView(Signature)));
        return std::move(FResult);
    }

private:
    // A line as the reader sees it: up to LF, without the CR of a CR LF.
    bool nextLine(QStringView& line)
    {
        if (FPos > FText.size() || (FPos == FText.size() && FLineNo > 0))
            return false;
        const qsizetype end = FText.indexOf(u'\n', FPos);
        const qsizetype stop = end < 0 ? FText.size() : end;
        line = FText.sliced(FPos, stop - FPos);
        if (line.endsWith(u'\r'))
            line.chop(1);
        FPos = end < 0 ? FText.size() + 1 : end + 1;
        ++FLineNo;
        return true;
    }

    static QString Excerpt(QStringView line)
    {
        constexpr qsizetype Limit = 60;
        QString text = line.first(std::min(line.size(), Limit)).toString();
        // Control characters would garble the terminal the message ends up on.
        for (QChar& c : text) {
            if (c.unicode() < 0x20)
                c = u'?';
        }
        return line.size() <= Limit ? text : text + QStringLiteral("...");
    }

    [[noreturn]] void fail(qsizetype lineNo, const QString& what) const
    {
        throw EVorlandtError(QStringLiteral("%1:%2: %3").arg(FFileName).arg(lineNo).arg(what),
                             EVorlandtError::Kind::Convert);
    }

    void parseKeyLine(QStringView line)
    {
        if (!line.endsWith(u']'))
            fail(FLineNo, QStringLiteral("\"]\" fehlt am Ende der Schlüsselzeile: %1").arg(Excerpt(line)));
        QStringView inner = line.sliced(1, line.size() - 2);
        const bool deleting = inner.startsWith(u'-');
        if (deleting)
            inner = inner.sliced(1);

        const qsizetype slash = inner.indexOf(u'\\');
        const QStringView rootName = slash < 0 ? inner : inner.first(slash);
        QStringView path = slash < 0 ? QStringView() : inner.sliced(slash + 1);
        const auto root = RootFromName(rootName);
        if (!root)
            fail(FLineNo, QStringLiteral("unbekannter Hauptschlüssel \"%1\" (erlaubt: HKEY_LOCAL_MACHINE, "
                                         "HKEY_CURRENT_USER, HKLM, HKCU)")
                              .arg(Excerpt(rootName)));
        if (path.endsWith(u'\\'))
            path.chop(1);
        if (path.startsWith(u'\\') || path.endsWith(u'\\') || path.contains(u"\\\\"))
            fail(FLineNo, QStringLiteral("leerer Schlüsselname im Pfad: %1").arg(Excerpt(line)));
        if (!IsStorableName(path))
            fail(FLineNo, QStringLiteral("Schlüsselpfad mit NUL-Zeichen oder ungültigem UTF-16: %1")
                              .arg(Excerpt(line)));
        // Removing a whole root would wipe every setting of every program in it.
        if (deleting && path.isEmpty())
            fail(FLineNo, QStringLiteral("ein ganzer Hauptschlüssel kann nicht gelöscht werden: %1")
                              .arg(Excerpt(line)));

        FRoot = *root;
        FKey = path.toString();
        FKeyOpen = !deleting;
        FResult.opsFor(*root).append(
            TStoreOp{deleting ? TStoreOp::Type::DeleteKey : TStoreOp::Type::CreateKey, FKey, {}, {}});
    }

    // Reads a quoted name or text starting at s[0] == '"'; returns the position after the
    // closing quote.
    qsizetype parseQuoted(QStringView s, QString& out, const char* what) const
    {
        out.clear();
        for (qsizetype i = 1; i < s.size(); ++i) {
            const QChar c = s[i];
            if (c == u'"')
                return i + 1;
            if (c == u'\\') {
                if (i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
                    out.append(s[++i]);
                    continue;
                }
                fail(FLineNo, QStringLiteral("ungültige Escape-Sequenz in %1 (nur \\\\ und \\\" sind "
                                             "erlaubt): %2")
                                  .arg(QLatin1StringView(what), Excerpt(s)));
            }
            out.append(c);
        }
        fail(FLineNo, QStringLiteral("%1 ohne schließendes Anführungszeichen: %2")
                          .arg(QLatin1StringView(what), Excerpt(s)));
    }

    void parseValueLine(QStringView line)
    {
        if (!FRoot || !FKeyOpen)
            fail(FLineNo, FRoot
                              ? QStringLiteral("Wert nach einer Schlüssellöschung ohne neuen Schlüssel: %1")
                                    .arg(Excerpt(line))
                              : QStringLiteral("Wert vor der ersten Schlüsselzeile: %1").arg(Excerpt(line)));
        QString name;
        QStringView rest;
        if (line.startsWith(u'@')) {
            rest = line.sliced(1);
        } else {
            rest = line.sliced(parseQuoted(line, name, "Wertname"));
            if (!IsStorableName(name))
                fail(
                    FLineNo,
                    QStringLiteral("Wertname mit NUL-Zeichen oder ungültigem UTF-16: %1").arg(Excerpt(line)));
        }
        rest = TrimLeftBlanks(rest);
        if (!rest.startsWith(u'='))
            fail(FLineNo, QStringLiteral("\"=\" fehlt nach dem Wertnamen: %1").arg(Excerpt(line)));
        rest = TrimLeftBlanks(rest.sliced(1));

        TStoreOp op{TStoreOp::Type::SetValue, FKey, name, {}};
        if (rest == u"-") {
            op.type = TStoreOp::Type::DeleteValue;
        } else if (rest.startsWith(u'"')) {
            QString text;
            const qsizetype end = parseQuoted(rest, text, "Text");
            if (end != rest.size())
                fail(FLineNo, QStringLiteral("Zeichen nach dem Text: %1").arg(Excerpt(rest.sliced(end))));
            op.value = TRawValue{TValueKind::String, Utf16LeWithNul(text)};
        } else {
            op.value = parseData(rest);
        }
        FResult.opsFor(*FRoot).append(std::move(op));
    }

    // Numbers and byte lists may go on over several lines, each but the last ending in "\".
    TRawValue parseData(QStringView first)
    {
        struct TSegment {
            qsizetype offset;
            qsizetype lineNo;
        };
        QList<TSegment> segments{{0, FLineNo}};
        QString data = first.toString();
        while (data.endsWith(u'\\')) {
            data.chop(1);
            QStringView next;
            if (!nextLine(next))
                fail(FLineNo, QStringLiteral("die Datei endet nach \"\\\", die Fortsetzungszeile fehlt"));
            segments.append({data.size(), FLineNo});
            data.append(TrimBlanks(next));
        }
        const auto lineAt = [&](qsizetype offset) {
            const auto it = std::upper_bound(segments.cbegin(), segments.cend(), offset,
                                             [](qsizetype o, const TSegment& s) { return o < s.offset; });
            return (it == segments.cbegin() ? it : it - 1)->lineNo;
        };
        const auto failAt = [&](qsizetype offset, const QString& what) {
            fail(lineAt(offset),
                 QStringLiteral("%1: %2").arg(what, Excerpt(QStringView(data).sliced(offset))));
        };

        const QStringView s(data);
        if (s.startsWith(u"dword:", Qt::CaseInsensitive)) {
            const QStringView digits = s.sliced(6);
            quint32 value = 0;
            if (digits.isEmpty() || digits.size() > 8)
                failAt(6, QStringLiteral("dword braucht 1 bis 8 Hex-Ziffern"));
            for (qsizetype i = 0; i < digits.size(); ++i) {
                const int d = HexDigit(digits[i]);
                if (d < 0)
                    failAt(6 + i, QStringLiteral("ungültige Hex-Ziffer in dword"));
                value = value * 16 + quint32(d);
            }
            QByteArray bytes(4, '\0');
            qToLittleEndian<quint32>(value, bytes.data());
            return TRawValue{TValueKind::DWord, bytes};
        }
        if (!s.startsWith(u"hex", Qt::CaseInsensitive))
            failAt(0,
                   QStringLiteral("unbekannte Wertangabe (erwartet \"...\", dword:, hex:, hex(N): oder -)"));

        qsizetype pos = 3;
        quint32 type = quint32(TValueKind::Binary);
        if (pos < s.size() && s[pos] == u'(') {
            const qsizetype close = s.indexOf(u')', pos);
            const QStringView digits = close < 0 ? QStringView() : s.sliced(pos + 1, close - pos - 1);
            if (digits.isEmpty() || digits.size() > 8 ||
                std::any_of(digits.begin(), digits.end(), [](QChar c) { return HexDigit(c) < 0; }))
                failAt(pos, QStringLiteral("ungültiger Werttyp in hex(...)"));
            type = 0;
            for (QChar c : digits)
                type = type * 16 + quint32(HexDigit(c));
            pos = close + 1;
        }
        if (pos >= s.size() || s[pos] != u':')
            failAt(pos, QStringLiteral("\":\" fehlt nach hex"));
        const qsizetype listStart = pos + 1;
        qsizetype errorPos = 0;
        auto bytes = ParseHexList(s, listStart, errorPos);
        if (!bytes)
            failAt(errorPos,
                   QStringLiteral("ungültiges Hex-Byte (erwartet 1 oder 2 Hex-Ziffern, durch Kommas "
                                  "getrennt)"));

        const auto requireSize = [&](qsizetype size, const char* kind) {
            if (bytes->size() != size)
                failAt(listStart, QStringLiteral("%1 braucht genau %2 Bytes, angegeben sind %3")
                                      .arg(QLatin1StringView(kind))
                                      .arg(size)
                                      .arg(bytes->size()));
        };
        const auto requireEven = [&](const char* kind) {
            if (bytes->size() % 2 != 0)
                failAt(listStart, QStringLiteral("%1 braucht UTF-16-Text, also eine gerade Anzahl Bytes, "
                                                 "angegeben sind %2")
                                      .arg(QLatin1StringView(kind))
                                      .arg(bytes->size()));
        };
        switch (type) {
            case quint32(TValueKind::String):
                requireEven("hex(1)");
                return TRawValue{TValueKind::String, *bytes};
            case quint32(TValueKind::ExpandString):
                requireEven("hex(2)");
                return TRawValue{TValueKind::ExpandString, *bytes};
            case quint32(TValueKind::Binary):
                return TRawValue{TValueKind::Binary, *bytes};
            case quint32(TValueKind::DWord):
                requireSize(4, "hex(4)");
                return TRawValue{TValueKind::DWord, *bytes};
            case quint32(TValueKind::QWord):
                requireSize(8, "hex(b)");
                return TRawValue{TValueKind::QWord, *bytes};
            default:
                failAt(0,
                       QStringLiteral("der Werttyp hex(%1) wird nicht unterstützt (nur hex, hex(1), hex(2), "
                                      "hex(3), hex(4) und hex(b))")
                           .arg(type, 0, 16));
        }
        Q_UNREACHABLE();
    }

    QStringView FText;
    QString FFileName;
    qsizetype FPos = 0;
    qsizetype FLineNo = 0;
    std::optional<TRootKey> FRoot;
    QString FKey;
    bool FKeyOpen = false;
    TRegImport FResult;
};

void AppendQuoted(QString& out, QStringView text)
{
    out.append(u'"');
    for (QChar c : text) {
        if (c == u'\\' || c == u'"')
            out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
}

bool HasLineBreak(QStringView text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

// A string value can be written as "text" only when reading that text back gives the same
// bytes: one terminating NUL, no other NUL, no line break, valid UTF-16.
std::optional<QString> PlainText(const QByteArray& data)
{
    if (data.size() < 2 || data.size() % 2 != 0)
        return std::nullopt;
    QString text = DecodeUtf16(data, 0, true);
    if (text.back() != QChar(0))
        return std::nullopt;
    text.chop(1);
    if (text.contains(QChar(0)) || HasLineBreak(text) || !text.isValidUtf16())
        return std::nullopt;
    return text;
}

// Wraps as regedit does: lines of at most 80 columns, continued with ",\" and two blanks.
void AppendWrappedHex(QString& out, qsizetype lineStart, const QByteArray& bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    qsizetype column = out.size() - lineStart;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<uchar>(bytes[i]);
        out.append(QChar(Digits[b >> 4]));
        out.append(QChar(Digits[b & 15]));
        column += 2;
        if (i + 1 == bytes.size())
            break;
        out.append(u',');
        ++column;
        if (column > 76) {
            out.append(u"\\\n  ");
            column = 2;
        }
    }
}

}  // namespace

std::optional<TRootKey> RootFromName(QStringView name)
{
    const auto is = [&](const char16_t* candidate) {
        return name.compare(QStringView(candidate), Qt::CaseInsensitive) == 0;
    };
    if (is(u"HKEY_LOCAL_MACHINE") || is(u"HKLM"))
        return HKEY_LOCAL_MACHINE;
    if (is(u"HKEY_CURRENT_USER") || is(u"HKCU"))
        return HKEY_CURRENT_USER;
    return std::nullopt;
}

TRegImport ParseRegFile(const QByteArray& bytes, const QString& fileName)
{
    const QString text = DecodeFile(bytes, fileName);
    return TRegParser(text, fileName).run();
}

std::optional<QByteArray> ParseHexBytes(QStringView text)
{
    qsizetype errorPos = 0;
    return ParseHexList(text, 0, errorPos);
}

QString FormatHexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(','));
}

QString FormatRegText(TRootKey root, const QList<TRegKey>& keys)
{
    const QString rootName = root == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                                        : QStringLiteral("HKEY_CURRENT_USER");
    QString out = QString::fromUtf16(Signature) + QStringLiteral("\n\n");
    for (const TRegKey& key : keys) {
        if (HasLineBreak(key.path))
            throw EVorlandtError(
                QStringLiteral("Der Schlüssel \"%1\\%2\" enthält einen Zeilenumbruch und kann "
                               "nicht als .reg-Datei geschrieben werden")
                    .arg(rootName, key.path));
        out += u'[' + rootName;
        if (!key.path.isEmpty())
            out += u'\\' + key.path;
        out += u"]\n";
        for (const platform::TNamedValue& value : key.values) {
            if (HasLineBreak(value.name))
                throw EVorlandtError(QStringLiteral("Der Wertname \"%1\" in \"%2\\%3\" enthält einen "
                                                    "Zeilenumbruch und kann nicht als .reg-Datei geschrieben "
                                                    "werden")
                                         .arg(value.name, rootName, key.path));
            const qsizetype lineStart = out.size();
            if (value.name.isEmpty())
                out += u'@';
            else
                AppendQuoted(out, value.name);
            out += u'=';
            const QByteArray& data = value.value.data;
            switch (value.value.kind) {
                case TValueKind::String:
                    if (const auto text = PlainText(data)) {
                        AppendQuoted(out, *text);
                    } else {
                        out += u"hex(1):";
                        AppendWrappedHex(out, lineStart, data);
                    }
                    break;
                case TValueKind::DWord:
                    if (data.size() == 4) {
                        out += QStringLiteral("dword:") +
                               QString::number(qFromLittleEndian<quint32>(data.constData()), 16)
                                   .rightJustified(8, u'0');
                    } else {
                        out += u"hex(4):";
                        AppendWrappedHex(out, lineStart, data);
                    }
                    break;
                case TValueKind::Binary:
                    out += u"hex:";
                    AppendWrappedHex(out, lineStart, data);
                    break;
                default:
                    out += QStringLiteral("hex(%1):").arg(int(value.value.kind), 0, 16);
                    AppendWrappedHex(out, lineStart, data);
                    break;
            }
            out += u'\n';
        }
        out += u'\n';
    }
    return out;
}

QByteArray EncodeForFile(const QString& text)
{
    const qsizetype lineBreaks = text.count(u'\n');
    QByteArray bytes(2 + 2 * (text.size() + lineBreaks), Qt::Uninitialized);
    auto* dst = reinterpret_cast<uchar*>(bytes.data());
    *dst++ = 0xFF;
    *dst++ = 0xFE;
    for (QChar c : text) {
        if (c == u'\n') {
            qToLittleEndian<quint16>(u'\r', dst);
            dst += 2;
        }
        qToLittleEndian<quint16>(c.unicode(), dst);
        dst += 2;
    }
    return bytes;
}

QByteArray EncodeForTerminal(const QString& text)
{
    return text.toUtf8();
}

}  // namespace regfile
