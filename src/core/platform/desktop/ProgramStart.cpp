// The child started and waited for through QProcess.
#include "core/platform/desktop/ProgramStart.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace platform {

TProgramEnd StartProgramAndWait(const QString& file, const QStringList& arguments, const QString& workingDir)
{
    TProgramEnd end;
    const QFileInfo info(file);
    if (!info.isFile())
        return end;
    QProcess process;
    // The absolute path, so that the file checked is the file started, never a namesake found
    // along PATH.
    end.Program = info.absoluteFilePath();
    process.setProgram(end.Program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDir);
    // A started program never gets our terminal's input; one that waits for input would
    // otherwise hang a waiting caller for good.
    process.setStandardInputFile(QProcess::nullDevice());
    // Its output goes where ours goes instead of piling up unread in our memory.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted())
        return end;
    end.Started = true;
    while (process.state() != QProcess::NotRunning) {
        if (process.waitForFinished(10))
            break;
        // Timers, repaints and input of our own windows go on while the program runs.
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
    // Qt reports the signal's number as the code of a program that did not exit by itself.
    end.Signalled = process.exitStatus() == QProcess::CrashExit;
    end.Code = process.exitCode();
    return end;
}

}  // namespace platform
