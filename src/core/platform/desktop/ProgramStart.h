// Starting a program as a child process and waiting for its end while the caller's events go
// on: how the updater hands over to the installer. QProcess on Linux (ProgramStart.cpp),
// CreateProcessW on Windows (ProgramStartWin.cpp).
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

struct TProgramEnd {
    bool Started = false;
    bool Signalled = false;  // ended by a signal (Linux), whose number Code then is
    int Code = 0;            // the exit status; on Windows the exit code's 32 bits
    // When it could not be started: the program as given to the system, and the system's reason
    // in its own words.
    QString Program;
    QString Reason;
};

// Starts `file` (relative names count from the current folder; never looked up along PATH) with
// `arguments` in `workingDir` (empty: the current folder), its input empty and its output going
// where ours goes, and returns when it has ended, processing pending events every 10 ms meanwhile.
TProgramEnd StartProgramAndWait(const QString& file, const QStringList& arguments, const QString& workingDir);

}  // namespace platform
