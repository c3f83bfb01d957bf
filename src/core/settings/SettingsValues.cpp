// The settings dialog's values and the settings store.
#include "core/settings/SettingsValues.h"

#include "core/platform/desktop/AutostartEntry.h"
#include "core/platform/text/IntText.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Policy.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QFileInfo>

#include <algorithm>

namespace K = SettingsKeys;

int IntervalHoursToDays(qint32 hours)
{
    return std::clamp(hours / 24, MinDays, MaxDays);
}

qint32 DaysToIntervalHours(int days)
{
    // The spin field holds the range, but a caller's value must not overflow the stored number.
    return std::clamp(days, MinDays, MaxDays) * 24;
}

qint32 ProxyPortFromText(const QString& text)
{
    return StrToIntDef(text, 0);
}

QString LocalSourceForStore(const QString& text)
{
    if (text.isEmpty() || text.endsWith(u'/'))
        return text;
    return text + u'/';
}

TSettingsLocks ReadSettingsLocks()
{
    TSettingsLocks locks;
    locks.Enabled = IsSetByPolicy(K::OnlineUpdate, K::Disable);
    locks.Days = IsSetByPolicy(K::OnlineUpdate, K::IntervalInHours);
    locks.LocalSource = IsSetByPolicy(K::OnlineUpdate, K::LocalSource);
    locks.News = IsSetByPolicy(K::OnlineUpdate, K::NewsAktiv);
    locks.Log = IsSetByPolicy(K::Log, K::LogAktiv);
    locks.ProxyEnabled = IsSetByPolicy(K::Proxy, K::ProxyAktiv);
    locks.ProxyServer = IsSetByPolicy(K::Proxy, K::ProxyServer);
    locks.ProxyPort = IsSetByPolicy(K::Proxy, K::ProxyPort);
    locks.ProxyUsername = IsSetByPolicy(K::Proxy, K::ProxyUsername);
    locks.ProxyPassword = IsSetByPolicy(K::Proxy, K::ProxyPassword);
    locks.UserAgent = IsSetByPolicy(K::Proxy, K::UserAgent);
    return locks;
}

TSettingsValues ReadSettingsValues()
{
    const TRootKey hkcu = HKEY_CURRENT_USER;
    TSettingsValues values;
    values.Locks = ReadSettingsLocks();
    values.Enabled = !ReadBoolValue(hkcu, K::OnlineUpdate, K::Disable, false);
    if (values.Enabled && !values.Locks.Enabled) {
        // Without any entry the box keeps showing "Disable" alone: ticking it then writes one.
        const platform::TAutostartState autostart = platform::AutostartState();
        values.Enabled = autostart != platform::TAutostartState::OwnHidden &&
                      autostart != platform::TAutostartState::SystemHidden;
    }
    values.Days = IntervalHoursToDays(
        ReadIntegerValue(hkcu, K::OnlineUpdate, K::IntervalInHours, K::IntervalInHoursDefault));
    const QString lastLocalSource = ReadStringValue(hkcu, K::OnlineUpdate, K::LastLocalSource, QString());
    values.LocalSourceText = ReadStringValue(hkcu, K::OnlineUpdate, K::LocalSource, lastLocalSource);
    // An empty policy folder is how an administrator imposes the download server: the box shows
    // that as cleared.
    values.LocalSource = values.Locks.LocalSource ? !values.LocalSourceText.isEmpty()
                                                   : ValueExists(hkcu, K::OnlineUpdate, K::LocalSource);
    values.News = ReadBoolValue(hkcu, K::OnlineUpdate, K::NewsAktiv, K::NewsAktivDefault);
    values.Log = ReadBoolValue(hkcu, K::Log, K::LogAktiv, K::LogAktivDefault);
    values.ProxyEnabled = ReadBoolValue(hkcu, K::Proxy, K::ProxyAktiv, K::ProxyAktivDefault);
    values.ProxyServer = ReadStringValue(hkcu, K::Proxy, K::ProxyServer, K::ProxyServerDefault);
    values.ProxyPort = QString::number(ReadIntegerValue(hkcu, K::Proxy, K::ProxyPort, K::ProxyPortDefault));
    values.ProxyUsername = ReadStringValue(hkcu, K::Proxy, K::ProxyUsername, QString());
    values.ProxyPassword = ScramblePassword(ReadStringValue(hkcu, K::Proxy, K::ProxyPassword, QString()),
                                           K::PasswordScrambleKey);
    values.UserAgent = ReadStringValue(hkcu, K::Proxy, K::UserAgent, K::UserAgentDefault);
    return values;
}

QList<TModuleEntry> ReadModuleEntries()
{
    QList<TModuleEntry> module;
    QStringList names;
    if (!GetSubKeyNames(HKEY_LOCAL_MACHINE, K::OnlineUpdateModule, names))
        return module;
    for (const QString& name : names) {
        module.append({name, !ReadBoolValue(HKEY_LOCAL_MACHINE, K::OnlineUpdateModule + name,
                                            K::ModuleDisabled, K::ModuleDisabledDialogDefault)});
    }
    return module;
}

void WriteSettingsValues(const TSettingsValues& values, bool adminRights, const QString& executable)
{
    const TRootKey hkcu = HKEY_CURRENT_USER;
    // Asked now, not taken from `werte`: the dialog builds the values from its controls, and a
    // policy may have come or gone while it was open.
    const TSettingsLocks locks = ReadSettingsLocks();
    if (!locks.Enabled)
        WriteBoolValue(hkcu, K::OnlineUpdate, K::Disable, !values.Enabled);
    if (!locks.Days)
        WriteIntegerValue(hkcu, K::OnlineUpdate, K::IntervalInHours, DaysToIntervalHours(values.Days));
    if (locks.LocalSource) {
        // The user's folder and the one offered again stay for the day the policy goes.
    } else if (values.LocalSource) {
        WriteStringValue(hkcu, K::OnlineUpdate, K::LocalSource, LocalSourceForStore(values.LocalSourceText));
    } else if (ValueExists(hkcu, K::OnlineUpdate, K::LocalSource)) {
        // Kept so that the next showing offers the folder again.
        WriteStringValue(hkcu, K::OnlineUpdate, K::LastLocalSource,
                         ReadStringValue(hkcu, K::OnlineUpdate, K::LocalSource, QString()));
        DeleteValue(hkcu, K::OnlineUpdate, K::LocalSource);
    }
    if (!locks.News)
        WriteBoolValue(hkcu, K::OnlineUpdate, K::NewsAktiv, values.News);
    if (!locks.Enabled)
        platform::SetAutostart(values.Enabled, executable);
    else if (!ReadBoolValue(hkcu, K::OnlineUpdate, K::Disable, false))
        platform::SetAutostart(true, executable);
    // Only administrators may write the machine-wide registrations; without the rights the list
    // was never loaded and the installers' values stay as they are.
    if (adminRights) {
        for (const TModuleEntry& eintrag : values.Modules)
            WriteBoolValue(HKEY_LOCAL_MACHINE, K::OnlineUpdateModule + eintrag.Name, K::ModuleDisabled,
                           !eintrag.Enabled);
    }
    if (!locks.Log)
        WriteBoolValue(hkcu, K::Log, K::LogAktiv, values.Log);
    if (!locks.ProxyEnabled)
        WriteBoolValue(hkcu, K::Proxy, K::ProxyAktiv, values.ProxyEnabled);
    if (!locks.ProxyServer)
        WriteStringValue(hkcu, K::Proxy, K::ProxyServer, values.ProxyServer);
    if (!locks.ProxyPort)
        WriteIntegerValue(hkcu, K::Proxy, K::ProxyPort, ProxyPortFromText(values.ProxyPort));
    if (!locks.ProxyUsername)
        WriteStringValue(hkcu, K::Proxy, K::ProxyUsername, values.ProxyUsername);
    // Never in clear text: anyone who can read the store file would read the password.
    if (!locks.ProxyPassword)
        WriteStringValue(hkcu, K::Proxy, K::ProxyPassword,
                         ScramblePassword(values.ProxyPassword, K::PasswordScrambleKey));
    if (!locks.UserAgent)
        WriteStringValue(hkcu, K::Proxy, K::UserAgent, values.UserAgent);
}

QString LogInfoText(const QString& logFolder)
{
    // Line feed before carriage return, as the information window has always been given it.
    return QStringLiteral(
               "Der VorlandtOnlineUpdater erzeugt beim Schließen der Anwendung, sowie beim Downloadprozess "
               "Log-Dateien.\n\rDie Log-Dateien sind unter folgendem Pfad zu finden:\n\r") +
           logFolder;
}

void OpenHelpTopic(const QString& helpFile, int helpContext)
{
    // The desktop's viewer opens the file but knows nothing of topics: the log says which one
    // was asked for.
    WriteLog(TLogAction::AppendLine,
             QStringLiteral("BitBtn3Click - Hilfe: %1 - HelpContext: %2").arg(helpFile).arg(helpContext));
    if (!QFileInfo(helpFile).isFile()) {
        MessageDialog(QStringLiteral("Die Hilfedatei \"%1\" wurde nicht gefunden.").arg(helpFile),
                      TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
        return;
    }
    if (!FrontEnd().OpenDocument(helpFile)) {
        MessageDialog(QStringLiteral("Die Hilfedatei \"%1\" konnte nicht geöffnet werden.").arg(helpFile),
                      TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
    }
}
