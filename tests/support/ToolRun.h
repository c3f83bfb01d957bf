// Running one of our command-line tools as a child process and keeping what it said, for the
// tests that drive the real executables.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

struct TToolRun {
    int exitCode = -1;  // also when the tool crashed or did not end within a minute
    QByteArray out;
    QByteArray err;
};

inline TToolRun RunTool(const QString& program, const QStringList& args)
{
    QProcess process;
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
