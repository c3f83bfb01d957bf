// The child started and waited for through QProcess.
#include "core/platform/desktop/ProgramStart.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Why `file` cannot be started, in the system's words; empty when nothing speaks against it.
QString StartProblem(const QString& file)
{
    const QByteArray native = QFile::encodeName(file);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    if (!S_ISREG(st.st_mode) || ::access(native.constData(), X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(EACCES));
    return QString();
}

}  // namespace

TProgramEnd StartProgramAndWait(const QString& file, const QStringList& arguments, const QString& workingDir)
{
    TProgramEnd end;
    const QFileInfo info(file);
    // The absolute path, so that the file checked is the file started, never a namesake found
    // along PATH.
    end.Program = info.absoluteFilePath();
    end.Reason = StartProblem(file);
    if (!end.Reason.isEmpty())
        return end;
    QProcess process;
    process.setProgram(end.Program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDir);
    // A started program never gets our terminal's input; one that waits for input would
    // otherwise hang a waiting caller for good.
    process.setStandardInputFile(QProcess::nullDevice());
    // Its output goes where ours goes instead of piling up unread in our memory.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted()) {
        // Qt names the failing call first ("execve: Exec format error"): the reason is the rest.
        end.Reason = process.errorString().section(QStringLiteral(": "), -1);
        return end;
    }
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
