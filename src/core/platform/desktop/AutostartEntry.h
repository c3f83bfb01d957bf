// The autostart at log-on: an entry that starts the updater with "-a". The user's own entry
// decides when it exists; without one, the entry of the same name for every user decides, which
// the package or the setup installs. On Linux the entries are XDG autostart desktop entries
// (AutostartEntry.cpp), where an entry with Hidden=true switches the start off for that user; on
// Windows they are the value "VorlandtUpdate" under the Run keys of HKCU and HKLM
// (AutostartEntryWin.cpp).
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

#ifdef Q_OS_WIN
// The key below HKCU (the user's own entry) and HKLM (every user's) and the value's name.
inline const QString AutostartRunKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
inline const QString AutostartValueName = QStringLiteral("VorlandtUpdate");

// The value's text: the executable's full path in double quotes, then " -a". Raises
// EVorlandtError (kind Argument) for a path with a double quote or a control character, which no
// command line can carry inside quotes.
QString AutostartCommandLine(const QString& executable);
#else
// $XDG_CONFIG_HOME/autostart/VorlandtUpdate.desktop; ~/.config stands in for an unset or
// relative XDG_CONFIG_HOME.
QString AutostartEntryPath();

// `argument` as one double-quoted argument of an Exec line, escaped for both the quoting rules of
// Exec and the string rules of the file. Raises EVorlandtError (kind Argument) for control
// characters, which no desktop entry value can carry.
QString DesktopExecArgument(const QString& argument);

// The whole desktop entry that starts `executable` in autostart mode.
QByteArray AutostartEntryContent(const QString& executable);

// The system entry in force when the user has none: the first folder of $XDG_CONFIG_DIRS (default
// /etc/xdg) whose autostart folder holds one. Empty when no folder does.
QString SystemAutostartEntryPath();

// The entry that keeps a system entry from starting the updater for this user.
QByteArray HiddenAutostartEntryContent(const QString& executable);
#endif

// The user's own entry exists (on Linux also as a dangling link).
bool AutostartEntryExists();

enum class TAutostartState {
    None,          // neither an own nor a system entry
    Own,           // the user's own entry starts the updater
    OwnHidden,     // the user's own entry switches the start off for this user (Linux only)
    System,        // no own entry; the system entry starts the updater
    SystemHidden,  // no own entry; the system entry is switched off itself (Linux only)
};

// Where this user's log-on start stands. By the XDG rules an entry is switched off by
// Hidden=true, or by X-GNOME-Autostart-enabled=false, which GNOME's own tools write; an entry
// that cannot be read counts as switched on, as it did when its existence alone counted. A Run
// value is never switched off: Windows' own switch for it is Explorer's private, undocumented
// bookkeeping, and the user's "Disable" setting keeps an autostart run from doing anything.
TAutostartState AutostartState();
inline bool AutostartEnabled(TAutostartState state)
{
    return state == TAutostartState::Own || state == TAutostartState::System;
}

// Switches the start at this user's log-on on or off with the fewest own entries. On Linux,
// while a system entry starts the updater, "on" is no own entry and "off" an own entry with
// Hidden=true; without one, "on" is an own entry and "off" none. On Windows "on" is an own
// value unless the value for every user starts the updater already (twice would be one run
// too many), and "off" is no own value. Raises EVorlandtError (kind InOut) as the writes and
// the removal below do.
void SetAutostart(bool on, const QString& executable);

// Replaces the entry (atomically, creating the autostart folder when missing, on Linux). Raises
// EVorlandtError (kind InOut) naming the path or key when it cannot be written.
void WriteAutostartEntry(const QString& executable);

// Deletes the entry when it exists. Raises EVorlandtError (kind InOut) naming the path or key
// when it stays.
void RemoveAutostartEntry();

}  // namespace platform
