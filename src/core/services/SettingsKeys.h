// Every key path, value name and default the updater reads or writes in the settings store,
// in one place, so that no other file spells a key itself.
#pragma once

#include <QString>
#include <QStringLiteral>

namespace SettingsKeys {

// ---- per-user: the updater's own settings -------------------------------------------------
inline const QString OnlineUpdate = QStringLiteral("Software\\KRSoftware\\OnlineUpdate\\");
inline const QString Disable = QStringLiteral("Disable");
inline constexpr qint32 DisableDefault = 0;
inline const QString IntervalInHours = QStringLiteral("IntervalInHours");
inline constexpr qint32 IntervalInHoursDefault = 48;
inline const QString LastCheckDateTime = QStringLiteral("LastCheckDateTime");
inline const QString LastCheckDateTimeDefault = QStringLiteral("01.01.2012 00:00:00");
inline const QString LocalSource = QStringLiteral("LocalSource");
inline const QString LastLocalSource = QStringLiteral("LastLocalSource");
inline const QString NewsAktiv = QStringLiteral("NewsAktiv");
inline constexpr bool NewsAktivDefault = true;
inline const QString LastNewsID = QStringLiteral("LastNewsID");
inline constexpr qint32 LastNewsIDDefault = -1;
inline const QString UpdateURL = QStringLiteral("UpdateURL");
inline const QString UpdateURLDefault =
    QStringLiteral("https://download.vorlandt.example/Desktop-Software/OnlineUpdates/Updates/");
inline const QString NewsURLDefault =
    QStringLiteral("https://download.vorlandt.example/Desktop-Software/OnlineUpdates/News/");

// ---- per-user: diagnostic log switch -------------------------------------------------------
inline const QString Log = QStringLiteral("Software\\KRSoftware\\Standardeinstellungen\\Log");
inline const QString LogAktiv = QStringLiteral("Aktiv");
inline constexpr bool LogAktivDefault = false;

// ---- per-user: proxy and user agent --------------------------------------------------------
inline const QString Proxy = QStringLiteral("Software\\KRSoftware\\Standardeinstellungen\\Proxy");
inline const QString ProxyAktiv = QStringLiteral("Aktiv");
inline constexpr bool ProxyAktivDefault = false;
inline const QString ProxyServer = QStringLiteral("Server");
inline const QString ProxyServerDefault = QStringLiteral("localhost");
inline const QString ProxyPort = QStringLiteral("Port");
inline constexpr qint32 ProxyPortDefault = 80;
inline const QString ProxyUsername = QStringLiteral("Username");
inline const QString ProxyPassword = QStringLiteral("Password");
inline const QString UserAgent = QStringLiteral("UserAgent");
inline const QString UserAgentDefault = QStringLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
// The one key every ScramblePassword call uses; passwords stored with it read back only with it.
inline constexpr quint32 PasswordScrambleKey = 23;

// ---- per-user: usage tracking --------------------------------------------------------------
inline const QString Standardeinstellungen = QStringLiteral("Software\\KRSoftware\\Standardeinstellungen\\");
inline const QString TrackingHost = QStringLiteral("TrackingHost");
// Nothing leaves the machine until somebody configures the maker's tracking server.
inline const QString TrackingHostDefault = QStringLiteral("127.0.0.1");
inline const QString TrackingOk = QStringLiteral("TrackingOk");
inline constexpr bool TrackingOkDefault = false;
inline const QString TrackingLastQuery = QStringLiteral("TrackingLastQuery");
inline const QString TrackingLastQueryDefault = QStringLiteral("01.01.1980");

// ---- per-user: the autostart list at log-on ------------------------------------------------
inline const QString Run = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
inline const QString RunEntry = QStringLiteral("VorlandtUpdate");

// ---- machine-wide: module registrations (one subkey each) ----------------------------------
inline const QString OnlineUpdateModule =
    QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule\\");
inline const QString UpdateID = QStringLiteral("Update_ID");
inline constexpr qint32 UpdateIDDefault = -1;
inline const QString UpdateHauptversion = QStringLiteral("Update_Hauptversion");
inline constexpr qint32 UpdateHauptversionDefault = -1;
inline const QString UpdateModulbezeichnung = QStringLiteral("Update_Modulbezeichnung");
inline const QString UpdateModulbezeichnungDefault = QStringLiteral("unbekannt");
// The settings dialog writes "Disabled", the update run asks for "disabled"; names fold case.
inline const QString ModuleDisabled = QStringLiteral("Disabled");
inline const QString ModuleDisabledRun = QStringLiteral("disabled");
inline constexpr qint32 ModuleDisabledRunDefault = -1;
inline constexpr bool ModuleDisabledDialogDefault = false;

// ---- machine-wide policy: what an administrator imposes on every user ---------------------
// Same value names and kinds as the per-user values they override (core/services/Policy.h has
// the mapping). Windows keeps policies below Software\Policies\<maker>, and so do we.
inline const QString PolicyOnlineUpdate = QStringLiteral("Software\\Policies\\KRSoftware\\OnlineUpdate\\");
inline const QString PolicyLog = QStringLiteral("Software\\Policies\\KRSoftware\\OnlineUpdate\\Log");
inline const QString PolicyProxy = QStringLiteral("Software\\Policies\\KRSoftware\\OnlineUpdate\\Proxy");
inline const QString PolicyTracking =
    QStringLiteral("Software\\Policies\\KRSoftware\\OnlineUpdate\\Tracking");

// ---- machine-wide only: keys that descriptors and news must be signed with ----------------
// Read from HKEY_LOCAL_MACHINE under OnlineUpdate; the per-user value of that name is ignored, so
// that a user cannot switch the check off. Blank-separated base64 Ed25519 public keys.
inline const QString SignatureKeys = QStringLiteral("SignatureKeys");

// ---- machine-wide: the suite's installation folder -----------------------------------------
inline const QString StdEinstellungen = QStringLiteral("Software\\KRSoftware\\Module\\STD_EINSTELLUNGEN");
// How the module-folder lookup reaches the same key: "...\module\" followed by a module name.
inline const QString ModulePrefix = QStringLiteral("Software\\KRSoftware\\module\\");
inline const QString StdEinstellungenName = QStringLiteral("STD_EINSTELLUNGEN");
inline const QString Pfad = QStringLiteral("Pfad");
inline const QString PfadInstallerDefault = QStringLiteral("c:\\Programme\\KRSoftware\\");
inline const QString PfadInstallerDefaultLinux = QStringLiteral("/opt/KRSoftware/");
// The installer's folder when none is registered, on the system the program runs on.
#ifdef _WIN32
inline const QString& PfadInstallerDefaultHere = PfadInstallerDefault;
#else
inline const QString& PfadInstallerDefaultHere = PfadInstallerDefaultLinux;
#endif

}  // namespace SettingsKeys
