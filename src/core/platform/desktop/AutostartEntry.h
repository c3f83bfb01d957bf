// The autostart at log-on: XDG autostart desktop entries that start the updater with "-a". The
// user's own entry decides when it exists (an entry with Hidden=true switches the start off for
// that user); without one, the entry of the same name in a system folder decides, which the
// package installs for every user.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// $XDG_CONFIG_HOME/autostart/VorlandtUpdate.desktop; ~/.config stands in for an unset or
// relative XDG_CONFIG_HOME.
QString AutostartEntryPath();

// `argument` as one double-quoted argument of an Exec line, escaped for both the quoting rules of
// Exec and the string rules of the file. Raises EVorlandtError (kind Argument) for control
// characters, which no desktop entry value can carry.
QString DesktopExecArgument(const QString& argument);

// The whole desktop entry that starts `executable` in autostart mode.
QByteArray AutostartEntryContent(const QString& executable);

// The user's own entry exists (also as a dangling link).
bool AutostartEntryExists();

// The system entry in force when the user has none: the first folder of $XDG_CONFIG_DIRS (default
// /etc/xdg) whose autostart folder holds one. Empty when no folder does.
QString SystemAutostartEntryPath();

enum class TAutostartState {
    None,          // neither an own nor a system entry
    Own,           // the user's own entry starts the updater
    OwnHidden,     // the user's own entry switches the start off for this user
    System,        // no own entry; the system entry starts the updater
    SystemHidden,  // no own entry; the system entry is switched off itself
};

// Where this user's log-on start stands by the XDG rules. An entry is switched off by
// Hidden=true, or by X-GNOME-Autostart-enabled=false, which GNOME's own tools write; an entry
// that cannot be read counts as switched on, as it did when its existence alone counted.
TAutostartState AutostartState();
inline bool AutostartEnabled(TAutostartState state)
{
    return state == TAutostartState::Own || state == TAutostartState::System;
}

// The entry that keeps a system entry from starting the updater for this user.
QByteArray HiddenAutostartEntryContent(const QString& executable);

// Switches the start at this user's log-on on or off with the fewest own files: while a system
// entry starts the updater, "on" is no own entry and "off" an own entry with Hidden=true; without
// one, "on" is an own entry and "off" none. Raises EVorlandtError (kind InOut) as the writes and
// the removal below do.
void SetAutostart(bool on, const QString& executable);

// Replaces the entry atomically, creating the autostart folder when missing. Raises
// EVorlandtError (kind InOut) naming the path when the folder or the file cannot be written.
void WriteAutostartEntry(const QString& executable);

// Deletes the entry when it exists. Raises EVorlandtError (kind InOut) naming the path when it
// stays.
void RemoveAutostartEntry();

}  // namespace platform
