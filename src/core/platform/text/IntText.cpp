#include "core/platform/text/IntText.h"

std::optional<qint32> TryStrToInt(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }

    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return std::nullopt;

    // Accumulate in 64 bits and stop as soon as the value cannot fit any more.
    quint64 value = 0;
    const quint64 limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }

    const auto bits = static_cast<quint32>(value);
    const auto result = static_cast<qint32>(bits);
    return negative ? static_cast<qint32>(0u - bits) : result;
}
