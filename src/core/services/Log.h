// The diagnostic log: lines collected in memory while the per-user switch is on, written to
// "VorlandtOnlineUpdater_Log.txt" when the program ends. Safe to call from any thread.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Action 1 starts a new buffer, 2 appends Text, 3 discards the buffer, 4 saves it; anything
// else does nothing. Every action does nothing while the switch is off. Action 4 raises
// EVorlandtError (kind InOut) when the file cannot be written.
void WriteLog(int Action, const QString& Text);

// The folder the log file goes to, ending with "/": the executable's folder when the user may
// write there, else $XDG_STATE_HOME/vorlandt/ (default ~/.local/state/vorlandt/).
QString LogDirectory();
// The rule behind LogDirectory, for a given executable folder.
QString LogDirectoryFor(const QString& executableDir);

// Tests only: the lines collected so far, or nullopt while no buffer exists.
std::optional<QStringList> LogBufferForTesting();

inline const QString LogFileName = QStringLiteral("VorlandtOnlineUpdater_Log.txt");
