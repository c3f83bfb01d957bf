// Text-to-integer conversion with the rules the stored settings, descriptors and ini files
// were written for: optional leading blanks and sign, then decimal digits, or hexadecimal
// digits after "$", "x" or "0x"; nothing may follow; the result must fit 32 bits
// (hexadecimal up to FFFFFFFF wraps into the negative range).
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

std::optional<qint32> TryStrToInt(QStringView text);

inline qint32 StrToIntDef(QStringView text, qint32 defaultValue)
{
    return TryStrToInt(text).value_or(defaultValue);
}
