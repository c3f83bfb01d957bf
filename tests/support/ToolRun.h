// Running one of our command-line tools as a child process and keeping what it said, for the
// tests that drive the real executables.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct TToolRun {
    int exitCode = -1;  // also when the tool crashed or did not end within a minute
    QByteArray out;
    QByteArray err;
};

// The child inherits this process's environment unless the caller hands it another one.
inline TToolRun RunTool(const QString& program, const QStringList& args,
                        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    TToolRun result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
