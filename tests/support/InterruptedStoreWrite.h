// A store file as a writer killed in the middle of a change leaves it: pages of the unfinished
// change already written into the file (a one-page cache spills them long before the commit) and
// the rollback journal beside it. The writer is a separate process that kills itself with
// SIGKILL mid-transaction, so SQLite gets no chance to clean up.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

// Empty when the store now holds an unfinished change; otherwise what went wrong.
inline QString InterruptWriteToStore(const QString& storePath)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return QStringLiteral("python3 missing");
    static const char script[] =
        "import os, sqlite3, sys\n"
        "db = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
        "db.execute('PRAGMA cache_size=1')\n"
        "db.execute('BEGIN IMMEDIATE')\n"
        "db.execute('UPDATE vals SET data = randomblob(3000)')\n"
        "db.execute(\"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) \"\n"
        "           \"INSERT INTO vals SELECT 'unfertig', 'w' || i, 'w' || i, 3, randomblob(3000) FROM n\")\n"
        "os.kill(os.getpid(), 9)\n";
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QString::fromLatin1(script), storePath});
    if (!process.waitForFinished(60000))
        return QStringLiteral("python3 did not end");
    if (process.exitStatus() != QProcess::CrashExit)
        return QStringLiteral("the writer was not killed: ") +
               QString::fromUtf8(process.readAllStandardError());
    if (!QFileInfo::exists(storePath + QStringLiteral("-journal")))
        return QStringLiteral("no journal left beside ") + storePath;
    return QString();
}
