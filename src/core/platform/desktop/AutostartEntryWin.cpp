// The Run values that start the updater at log-on, written and read through the settings store,
// which on Windows is the registry: the user's own under HKCU, the one for every user, which
// only the setup writes, under HKLM in the same 32-bit view as the suite's other keys.
#include "core/platform/desktop/AutostartEntry.h"

#include "core/platform/store/StoreBackend.h"
#include "core/platform/VorlandtError.h"

namespace platform {

namespace {

QString EntryName(TRootKey root)
{
    return RootKeyName(root) + u'\\' + AutostartRunKey + u'\\' + AutostartValueName;
}

// A value this user may not read is there all the same.
bool EntryExists(TRootKey root)
{
    TReadStatus status = TReadStatus::Missing;
    StoreBackend::readValue(root, AutostartRunKey, AutostartValueName, &status);
    return status != TReadStatus::Missing;
}

}  // namespace

QString AutostartCommandLine(const QString& executable)
{
    // Inside quotes a command line has no way to write a quote, and a line break would end
    // the value's first line for any tool that shows it.
    for (const QChar c : executable) {
        if (c == u'"' || c.unicode() < 0x20 || c.unicode() == 0x7f) {
            throw EVorlandtError(
                QStringLiteral("Der Pfad \"%1\" enthält Steuerzeichen oder Anführungszeichen "
                               "und kann nicht in einen Autostart-Eintrag geschrieben werden.")
                    .arg(executable),
                EVorlandtError::Kind::Argument);
        }
    }
    return u'"' + executable + QStringLiteral("\" -a");
}

bool AutostartEntryExists()
{
    return EntryExists(TRootKey::HKEY_CURRENT_USER);
}

TAutostartState AutostartState()
{
    if (EntryExists(TRootKey::HKEY_CURRENT_USER))
        return TAutostartState::Own;
    if (EntryExists(TRootKey::HKEY_LOCAL_MACHINE))
        return TAutostartState::System;
    return TAutostartState::None;
}

void WriteAutostartEntry(const QString& executable)
{
    const TRawValue value = TRawValue::fromString(AutostartCommandLine(executable));
    if (!StoreBackend::writeValue(TRootKey::HKEY_CURRENT_USER, AutostartRunKey, AutostartValueName, value)) {
        throw EVorlandtError(QStringLiteral("Der Autostart-Eintrag \"%1\" kann nicht geschrieben werden.")
                                 .arg(EntryName(TRootKey::HKEY_CURRENT_USER)),
                             EVorlandtError::Kind::InOut);
    }
}

void RemoveAutostartEntry()
{
    switch (StoreBackend::deleteValue(TRootKey::HKEY_CURRENT_USER, AutostartRunKey, AutostartValueName)) {
        case TDeleteResult::Deleted:
        case TDeleteResult::NoSuchValue:
            return;
        case TDeleteResult::KeyNotWritable:
            // A Run key that is not there holds no entry either.
            if (!StoreBackend::keyExists(TRootKey::HKEY_CURRENT_USER, AutostartRunKey))
                return;
            break;
    }
    throw EVorlandtError(QStringLiteral("Der Autostart-Eintrag \"%1\" kann nicht gelöscht werden.")
                             .arg(EntryName(TRootKey::HKEY_CURRENT_USER)),
                         EVorlandtError::Kind::InOut);
}

void SetAutostart(bool on, const QString& executable)
{
    if (on && !EntryExists(TRootKey::HKEY_LOCAL_MACHINE))
        WriteAutostartEntry(executable);
    else
        RemoveAutostartEntry();
}

}  // namespace platform
