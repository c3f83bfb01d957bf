// The typed settings-store operations: conversions between the stored kinds and the numbers,
// texts and switches the updater works with, and the store's error messages.
#include "core/services/Registry.h"

#include "core/platform/text/IntText.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/services/Policy.h"

#include <QtEndian>

#include <cstring>

using platform::StoreBackend;
using platform::TDeleteResult;
using platform::TRawValue;
using platform::TValueKind;

namespace {

QString keyText(TRootKey root, const QString& key)
{
    return RootKeyName(root) + u'\\' + key;
}

[[noreturn]] void raiseStore(const QString& message)
{
    throw EVorlandtError(message, EVorlandtError::Kind::Store);
}

QString readMessage(TRootKey root, const QString& key)
{
    return WithStoreCondition(root,
                              QStringLiteral("Unable to open key \"%1\" for read").arg(keyText(root, key)));
}

QString writeMessage(TRootKey root, const QString& key)
{
    return QStringLiteral("Unable to open key \"%1\" for write").arg(keyText(root, key));
}

QString valueMessage(TRootKey root, const QString& key, const QString& name)
{
    return QStringLiteral("Unable to open key \"%1\" and access value \"%2\"").arg(keyText(root, key), name);
}

// Stored text is UTF-16 LE; whatever follows the first NUL (the terminator, or garbage a
// foreign writer left) is not part of the text. A stray odd byte cannot form a character.
QString storedText(const QByteArray& bytes)
{
    const qsizetype units = bytes.size() / 2;
    QString text(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(bytes.constData() + i * 2));
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

// A per-user setting that an administrator's policy covers reads the policy value when there is
// one, whatever the user stored: so every reader of the setting obeys it, the diagnostic log's
// switch and the download's proxy as much as the update run.
std::optional<TRawValue> readSetting(TRootKey root, const QString& key, const QString& name)
{
    if (root == HKEY_CURRENT_USER) {
        if (const TPolicySetting* policy = PolicyFor(key, name)) {
            if (std::optional<TPolicyValue> value = ReadPolicyValue(*policy))
                return std::move(value->Value);
        }
    }
    return StoreBackend::readValue(root, key, name);
}

void write(TRootKey root, const QString& key, const QString& name, const TRawValue& value)
{
    if (!StoreBackend::writeValue(root, key, name, value))
        raiseStore(writeMessage(root, key));
}

}  // namespace

qint32 ReadIntegerValue(TRootKey root, const QString& key, const QString& name, qint32 defaultValue)
{
    const std::optional<TRawValue> value = readSetting(root, key, name);
    if (!value)
        return defaultValue;
    switch (value->kind) {
        case TValueKind::DWord:
        case TValueKind::QWord:
        case TValueKind::Binary: {
            if (value->data.size() > 8)
                return defaultValue;
            // A short value fills the low bytes of a zeroed number; only the low 32 bits count.
            unsigned char bytes[8] = {};
            std::memcpy(bytes, value->data.constData(), static_cast<size_t>(value->data.size()));
            return static_cast<qint32>(qFromLittleEndian<quint32>(bytes));
        }
        case TValueKind::String:
        case TValueKind::ExpandString:
            return StrToIntDef(storedText(value->data), defaultValue);
    }
    return defaultValue;
}

bool ReadsAsInteger(const TRawValue& value)
{
    switch (value.kind) {
        case TValueKind::DWord:
        case TValueKind::QWord:
        case TValueKind::Binary:
            return value.data.size() <= 8;
        case TValueKind::String:
        case TValueKind::ExpandString:
            return TryStrToInt(storedText(value.data)).has_value();
    }
    return false;
}

bool ReadsAsText(const TRawValue& value)
{
    return value.kind != TValueKind::DWord && value.kind != TValueKind::QWord;
}

bool ReadBoolValue(TRootKey root, const QString& key, const QString& name, bool defaultValue)
{
    return ReadIntegerValue(root, key, name, defaultValue ? 1 : 0) != 0;
}

QString ReadStringValue(TRootKey root, const QString& key, const QString& name, const QString& defaultValue)
{
    const std::optional<TRawValue> value = readSetting(root, key, name);
    if (!value)
        return defaultValue;
    switch (value->kind) {
        case TValueKind::String:
        case TValueKind::ExpandString:
        case TValueKind::Binary:
            return storedText(value->data);
        case TValueKind::DWord:
        case TValueKind::QWord:
            break;
    }
    return defaultValue;
}

void WriteBoolValue(TRootKey root, const QString& key, const QString& name, bool value)
{
    WriteIntegerValue(root, key, name, value ? 1 : 0);
}

void WriteIntegerValue(TRootKey root, const QString& key, const QString& name, qint32 value)
{
    write(root, key, name, TRawValue::fromDWord(static_cast<quint32>(value)));
}

void WriteStringValue(TRootKey root, const QString& key, const QString& name, const QString& value)
{
    write(root, key, name, TRawValue::fromString(value));
}

bool ValueExists(TRootKey root, const QString& key, const QString& name)
{
    return readSetting(root, key, name).has_value();
}

void DeleteValue(TRootKey root, const QString& key, const QString& name)
{
    switch (StoreBackend::deleteValue(root, key, name)) {
        case TDeleteResult::Deleted:
            return;
        case TDeleteResult::KeyNotWritable:
            raiseStore(writeMessage(root, key));
        case TDeleteResult::NoSuchValue:
            raiseStore(valueMessage(root, key, name));
    }
}

bool GetSubKeyNames(TRootKey root, const QString& key, QStringList& names)
{
    names.clear();
    std::optional<QStringList> found = StoreBackend::subKeyNames(root, key);
    if (!found)
        raiseStore(readMessage(root, key));
    names = std::move(*found);
    // Said where a run lists the registrations: once per run, not at every value read.
    if (StoreBackend::condition(root) == platform::TStoreCondition::ReadingLastCommittedCopy)
        WriteLog(TLogAction::AppendLine, QStringLiteral("GetSubKeyNames - ") + StoreConditionText(root));
    return true;
}

QString StoreConditionText(TRootKey root)
{
    const bool machine = root == TRootKey::HKEY_LOCAL_MACHINE;
    const QString store = (machine ? QStringLiteral("Der maschinenweite Einstellungsspeicher \"%1\"")
                                   : QStringLiteral("Der persönliche Einstellungsspeicher \"%1\""))
                              .arg(StoreBackend::storePath(root));
    const QString remedy =
        machine ? QStringLiteral("Ein Administrator repariert ihn mit dem Befehl \"vorlandt-reg repair\".")
                : QStringLiteral("Reparieren Sie ihn mit dem Befehl \"vorlandt-reg repair HKCU\".");
    switch (StoreBackend::condition(root)) {
        case platform::TStoreCondition::Normal:
            break;
        case platform::TStoreCondition::ReadingLastCommittedCopy:
            return store +
                   QStringLiteral(
                       " wurde bei einer Änderung unterbrochen; gelesen wird der zuletzt vollständig "
                       "gespeicherte Stand. ") +
                   remedy;
        case platform::TStoreCondition::UnfinishedChange:
            return store +
                   QStringLiteral(
                       " wurde durch eine unterbrochene Änderung unvollständig hinterlassen und kann "
                       "nicht gelesen werden. ") +
                   remedy;
    }
    return QString();
}

QString WithStoreCondition(TRootKey root, const QString& message)
{
    if (StoreBackend::condition(root) != platform::TStoreCondition::UnfinishedChange)
        return message;
    return message + u'\n' + StoreConditionText(root);
}

bool HasAdminRights()
{
    return StoreBackend::canWriteMachineStore();
}

QString ScramblePassword(const QString& text, quint32 key)
{
    if (key > 31) {
        throw EVorlandtError(
            QStringLiteral("Key muss ein Integer zwischen 0 und 31 sein, ist aber %1").arg(key),
            EVorlandtError::Kind::Argument);
    }
    // Control characters stay as they are and a five-bit key never moves a code below 32,
    // which is what makes the same call undo the scrambling.
    QString result = text;
    for (QChar& c : result) {
        if (c.unicode() > 31)
            c = QChar(static_cast<char16_t>(c.unicode() ^ key));
    }
    return result;
}
