// The per-user autostart at log-on: an XDG autostart desktop entry that starts the updater with
// "-a". Whether the file exists is what "the autostart entry exists" means.
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

bool AutostartEntryExists();

// Replaces the entry atomically, creating the autostart folder when missing. Raises
// EVorlandtError (kind InOut) naming the path when the folder or the file cannot be written.
void WriteAutostartEntry(const QString& executable);

// Deletes the entry when it exists. Raises EVorlandtError (kind InOut) naming the path when it
// stays.
void RemoveAutostartEntry();

}  // namespace platform
