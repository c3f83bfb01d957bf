// Text decoding of fetched XML files ahead of the parser.
#include "core/sources/XmlDecoding.h"

#include "core/platform/text/TextCodec.h"

#include <QChar>
#include <QLatin1String>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <initializer_list>

namespace sources {

namespace {

bool StartsWith(QByteArrayView bytes, std::initializer_list<unsigned char> prefix)
{
    if (bytes.size() < static_cast<qsizetype>(prefix.size()))
        return false;
    qsizetype i = 0;
    for (const unsigned char c : prefix) {
        if (static_cast<unsigned char>(bytes[i++]) != c)
            return false;
    }
    return true;
}

// The encoding the XML declaration names, in lower case; empty without a declaration.
QByteArray DeclaredEncoding(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml") || bytes.size() < 6 || !QChar::isSpace(uchar(bytes[5])))
        return {};
    QByteArrayView declaration = bytes.first(std::min<qsizetype>(bytes.size(), 1024));
    const qsizetype end = declaration.indexOf("?>");
    if (end < 0)
        return {};
    declaration = declaration.first(end);
    qsizetype i = declaration.indexOf("encoding");
    if (i < 0)
        return {};
    i += 8;
    auto skipBlanks = [&] {
        while (i < declaration.size() && QChar::isSpace(uchar(declaration[i])))
            ++i;
    };
    skipBlanks();
    if (i >= declaration.size() || declaration[i] != '=')
        return {};
    ++i;
    skipBlanks();
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
        return {};
    const char quote = declaration[i++];
    const qsizetype close = declaration.indexOf(quote, i);
    if (close < 0)
        return {};
    return declaration.sliced(i, close - i).toByteArray().toLower();
}

// Windows editors write "ISO-8859-1" where they mean their own code page, and the two agree
// on every letter a descriptor uses; the parser itself knows neither.
bool IsWindows1252Family(const QByteArray& encoding)
{
    static const QByteArrayView names[] = {"windows-1252", "cp1252",    "x-cp1252", "iso-8859-1",
                                           "iso_8859-1",   "iso8859-1", "latin1",   "latin-1",
                                           "l1",           "us-ascii",  "ascii"};
    for (const QByteArrayView name : names) {
        if (encoding == name)
            return true;
    }
    return false;
}

}  // namespace

bool HasUtf16ByteOrderMark(QByteArrayView bytes)
{
    return StartsWith(bytes, {0xFF, 0xFE}) || StartsWith(bytes, {0xFE, 0xFF});
}

// Descriptors are mostly ASCII, which is copied as it is; a
// detour through UTF-16 would convert the whole file twice.
QByteArray Windows1252ToUtf8(const QByteArray& bytes)
{
    static const std::array<QByteArray, 128> upperHalf = [] {
        std::array<QByteArray, 128> table;
        for (int i = 0; i < 128; ++i)
            table[i] = platform::DecodeWindows1252(QByteArray(1, static_cast<char>(0x80 + i))).toUtf8();
        return table;
    }();
    const char* in = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype length = 0;
    qsizetype i = 0;
    for (; i < n; ++i) {
        if (i + 8 <= n && (Word(in + i) & kHighBits) == 0) {
            length += 8;
            i += 7;
            continue;
        }
        const auto byte = static_cast<unsigned char>(in[i]);
        length += byte < 0x80 ? 1 : upperHalf[byte - 0x80].size();
    }
    QByteArray result(length, Qt::Uninitialized);
    char* out = result.data();
    for (i = 0; i < n; ++i) {
        if (i + 8 <= n && (Word(in + i) & kHighBits) == 0) {
            std::memcpy(out, in + i, 8);
            out += 8;
            i += 7;
            continue;
        }
        const auto byte = static_cast<unsigned char>(in[i]);
        if (byte < 0x80) {
            *out++ = in[i];
        } else {
            const QByteArray& sequence = upperHalf[byte - 0x80];
            out = std::copy(sequence.cbegin(), sequence.cend(), out);
        }
    }
    return result;
}

QByteArray ParserInput(const QByteArray& bytes, QString& encodingError)
{
    encodingError.clear();
    if (StartsWith(bytes, {0xEF, 0xBB, 0xBF}))
        return bytes.sliced(3);
    if (HasUtf16ByteOrderMark(bytes))
        return platform::DecodeText(bytes).toUtf8();
    const QByteArray declared = DeclaredEncoding(bytes);
    // Without a declaration a file is UTF-8 by XML's own rule: other bytes make it no XML at
    // all, never text with replacement characters.
    if (declared.isEmpty()) {
        if (QByteArrayView(bytes).isValidUtf8())
            return bytes;
        encodingError = QStringLiteral(
            "Die Datei enthält Zeichen, die in UTF-8 ungültig sind (keine Kodierung angegeben)");
        return QByteArray();
    }
    if (IsWindows1252Family(declared))
        return Windows1252ToUtf8(bytes);
    const auto invalid = [&](const QString& name) {
        encodingError =
            QStringLiteral("Die Datei enthält Zeichen, die in der angegebenen Kodierung \"%1\" ungültig sind")
                .arg(name);
        return QByteArray();
    };
    // The common case stays one pass over the bytes, without a detour through UTF-16.
    if (declared == "utf-8" || declared == "utf8")
        return QByteArrayView(bytes).isValidUtf8() ? bytes : invalid(QStringLiteral("UTF-8"));
    // Guessing would show wrong letters in the release notes without a word; the author of the
    // file learns instead which name is not understood.
    QStringDecoder decoder(declared.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid()) {
        encodingError = QStringLiteral("Die angegebene Kodierung \"%1\" ist unbekannt")
                            .arg(QString::fromLatin1(declared.left(40)));
        return QByteArray();
    }
    const QString text = decoder(bytes);
    // The declaration was read as ASCII: an encoding that does not read it back the same way
    // (UTF-16 without byte-order mark, EBCDIC) cannot be the file's.
    if (decoder.hasError() || !text.startsWith(QLatin1String("<?xml")))
        return invalid(QString::fromLatin1(decoder.name()));
    return text.toUtf8();
}

}  // namespace sources
