// The parts of the settings store every backend shares: root names and the registry's value
// encoding.
#include "core/platform/store/StoreBackend.h"

#include <QtEndian>

QString RootKeyName(TRootKey root)
{
    return root == TRootKey::HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                                : QStringLiteral("HKEY_CURRENT_USER");
}

namespace platform {

TRawValue TRawValue::fromString(const QString& text, TValueKind kind)
{
    QByteArray bytes(static_cast<qsizetype>(text.size() + 1) * 2, '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes.data() + i * 2);
    return {kind, bytes};
}

TRawValue TRawValue::fromDWord(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return {TValueKind::DWord, bytes};
}

TRawValue TRawValue::fromQWord(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return {TValueKind::QWord, bytes};
}

TRawValue TRawValue::fromBinary(const QByteArray& bytes)
{
    return {TValueKind::Binary, bytes};
}

}  // namespace platform
