// What the settings dialog shows and saves, without widgets: every control's value as loaded from
// and written to the settings store, in the order the dialog loads and saves them.
#pragma once

#include <QList>
#include <QString>

// One module registration in the module list: its subkey name and whether it takes part.
struct TModuleEntry {
    QString Name;
    bool Enabled = true;
    friend bool operator==(const TModuleEntry&, const TModuleEntry&) = default;
};

// Which controls an administrator's policy fixes (core/services/Policy.h): the dialog shows them
// disabled with PolicyLockNote, and saving leaves the user's own values of them as they are.
struct TSettingsLocks {
    bool Enabled = false;  // "Disable", and with it the autostart entry
    bool Days = false;
    bool LocalSource = false;  // box and folder field together
    bool News = false;
    bool Log = false;
    bool ProxyEnabled = false;
    bool ProxyServer = false;
    bool ProxyPort = false;
    bool ProxyUsername = false;
    bool ProxyPassword = false;
    bool UserAgent = false;
    bool Any() const
    {
        return Enabled || Days || LocalSource || News || Log || ProxyEnabled || ProxyServer || ProxyPort ||
               ProxyUsername || ProxyPassword || UserAgent;
    }
    friend bool operator==(const TSettingsLocks&, const TSettingsLocks&) = default;
};

inline const QString PolicyLockNote = QStringLiteral("Vom Administrator festgelegt.");

// The controls' values. The proxy port is the field's text, the password in clear.
struct TSettingsValues {
    bool Enabled = true;  // cbAktiv
    int Days = 2;       // seDays
    bool LocalSource = false;
    QString LocalSourceText;
    bool News = true;
    bool Log = false;
    bool ProxyEnabled = false;
    QString ProxyServer;
    QString ProxyPort;
    QString ProxyUsername;
    QString ProxyPassword;
    QString UserAgent;
    // Only administrators see and save it.
    QList<TModuleEntry> Modules;
    // Filled by ReadSettingsValues for the dialog to show; saving asks the policy afresh.
    TSettingsLocks Locks;
};

inline constexpr int MinDays = 2;
inline constexpr int MaxDays = 28;
// The help topic of the settings dialog.
inline constexpr int SettingsHelpContext = 10003;
inline const QString HelpFileName = QStringLiteral("vorlandt-online-updater.chm");

// Stored hours as whole days (remainder dropped), held within MinDays to MaxDays.
int IntervalHoursToDays(qint32 hours);
qint32 DaysToIntervalHours(int days);
// The port field's text as stored: 0 when it is no integer.
qint32 ProxyPortFromText(const QString& text);
// The directory field's text as stored: with a trailing "/". An empty field stays empty, which
// the retrieval takes as "use the download server"; a lone "/" would make the root folder the
// update source.
QString LocalSourceForStore(const QString& text);

// Every per-user value as in effect (Module stays empty): a policy value where one is set. The
// autostart box shows whether the updater starts at this user's log-on: "Disable" must allow it,
// and an autostart entry that is switched off (the user's own, or the system's when the user has
// none) clears it. Never fails: missing values give the defaults.
TSettingsValues ReadSettingsValues();

TSettingsLocks ReadSettingsLocks();

// The module registrations in the store's order, ticked unless "Disabled" is set. Raises the
// store's read message when the machine-wide registration key is missing.
QList<TModuleEntry> ReadModuleEntries();

// Writes every value, changed or not, in the dialog's order: "Disable", interval, local source,
// news, the autostart entry for `executable`, the modules (only when `adminRights`), the log
// switch, the proxy values. A value a policy sets at the time of saving is left out, whatever
// `werte` holds, so that the user's own value is still there when the policy goes; a policy that
// switches the automatic search on makes the log-on start take effect for this user. The first
// refused write raises EVorlandtError; what was written before stays and nothing after it is
// written.
void WriteSettingsValues(const TSettingsValues& values, bool adminRights, const QString& executable);

// The information text of the log button for the folder the diagnostic log goes to.
QString LogInfoText(const QString& logFolder);

// Opens `helpFile` through the front end and logs the topic; a missing file or a refusing
// desktop gets an error box naming the path.
void OpenHelpTopic(const QString& helpFile, int helpContext);
