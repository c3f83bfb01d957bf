// What a program run from a terminal needs of the system: whether a person can answer on standard
// input, standard output set aside for a report, and the stop signals (Ctrl+C, the system's
// request to end).
#pragma once

#include <QByteArray>

namespace platform {

// Whether standard input is a terminal.
bool StdinIsTerminal();

// Sends everything written to standard output from now on (by this process and the programs it
// starts) to standard error instead, and returns a descriptor of the original standard output
// that started programs do not inherit; -1 when that fails.
int DivertStdoutToStderr();

// Writes all of `bytes` to the descriptor and closes it; false when a write failed.
bool WriteAllAndClose(int fd, const QByteArray& bytes);

// Calls `handler` with the signal's number (SIGINT, SIGTERM) when the user interrupts the
// program or the system asks it to end. The handler runs as a signal handler: it may only set
// flags.
void OnStopSignals(void (*handler)(int));

// Ends the process at once as the signal's default action does (exit status 128 + the signal's
// number on Windows).
void EndBySignal(int signal);

}  // namespace platform
