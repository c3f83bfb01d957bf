// Windows-1252 by table in both directions, byte-order-mark detection, and line splitting.
#include "core/platform/text/TextCodec.h"

#include <array>

namespace platform {

namespace {

// 0x80..0x9F as Windows defines them. The five bytes Windows leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) pass through as the C1 control of the same number, exactly as Windows' own
// conversion does, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kHighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

constexpr std::array<char16_t, 256> makeDecodeTable()
{
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = static_cast<char16_t>(b);
    for (int i = 0; i < 32; ++i)
        table[0x80 + i] = kHighControlRange[i];
    return table;
}

constexpr std::array<char16_t, 256> kDecode = makeDecodeTable();

// Every character outside Latin-1 that Windows-1252 holds lies in U+0152..U+2122; a table over
// that span keeps encoding at one lookup per character.
constexpr char16_t kSpanFirst = 0x0152;
constexpr char16_t kSpanLast = 0x2122;

constexpr std::array<unsigned char, kSpanLast - kSpanFirst + 1> makeSpanTable()
{
    std::array<unsigned char, kSpanLast - kSpanFirst + 1> table{};
    for (int i = 0; i < 32; ++i) {
        const char16_t c = kHighControlRange[i];
        if (c >= kSpanFirst && c <= kSpanLast)
            table[c - kSpanFirst] = static_cast<unsigned char>(0x80 + i);
    }
    return table;
}

constexpr auto kEncodeSpan = makeSpanTable();

// 0 means "not in the code page".
inline unsigned char encodeOne(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<unsigned char>(c);
    if (c < 0xA0)  // C1 controls: only the five undefined bytes have a home
        return (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) ? static_cast<unsigned char>(c)
                                                                               : 0;
    if (c >= kSpanFirst && c <= kSpanLast)
        return kEncodeSpan[c - kSpanFirst];
    return 0;
}

inline bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-16 code units to a QString; a trailing odd byte is dropped and an unpaired surrogate
// becomes U+FFFD, so that later conversions never meet half a character.
QString decodeUtf16(const char* data, qsizetype byteCount, bool bigEndian)
{
    const qsizetype units = byteCount / 2;
    QString result(units, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char a = in[2 * i];
        const unsigned char b = in[2 * i + 1];
        out[i] = bigEndian ? static_cast<char16_t>((a << 8) | b) : static_cast<char16_t>((b << 8) | a);
    }
    for (qsizetype i = 0; i < units; ++i) {
        if (isHighSurrogate(out[i]) && i + 1 < units && isLowSurrogate(out[i + 1]))
            ++i;
        else if (isHighSurrogate(out[i]) || isLowSurrogate(out[i]))
            out[i] = 0xFFFD;
    }
    return result;
}

}  // namespace

QByteArray EncodeWindows1252(const QString& text)
{
    QByteArray result(text.size(), Qt::Uninitialized);
    char* out = result.data();
    qsizetype written = 0;
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = in[i];
        if (c == 0) {
            out[written++] = 0;
            continue;
        }
        const unsigned char b = encodeOne(c);
        if (b != 0) {
            out[written++] = static_cast<char>(b);
            continue;
        }
        // One character outside the code page is one '?', even when it takes a surrogate pair.
        if (isHighSurrogate(c) && i + 1 < n && isLowSurrogate(in[i + 1]))
            ++i;
        out[written++] = '?';
    }
    result.truncate(written);
    return result;
}

QString DecodeWindows1252(const QByteArray& bytes)
{
    QString result(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i)
        out[i] = kDecode[in[i]];
    return result;
}

QString DecodeText(const QByteArray& bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return QString::fromUtf8(bytes.constData() + 3, n - 3);  // broken sequences become U+FFFD
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        return decodeUtf16(bytes.constData() + 2, n - 2, false);
    if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        return decodeUtf16(bytes.constData() + 2, n - 2, true);
    return DecodeWindows1252(bytes);
}

QStringList SplitLines(const QString& text)
{
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

}  // namespace platform
