// Started through ChildProcess's EndWithParent: a crashing test leaves no server behind.
#include "support/TrackingServerProcess.h"

#include "support/net/ChildProcess.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <csignal>

#include <sqlite3.h>

TTrackingServerProcess::TTrackingServerProcess(QString databaseFile) : FDatabaseFile(std::move(databaseFile))
{
    EndWithParent(FProcess);
}

TTrackingServerProcess::~TTrackingServerProcess()
{
    if (FProcess.state() != QProcess::NotRunning) {
        Thaw();
        Stop();
    }
}

bool TTrackingServerProcess::Start(qint32 probability, quint16 port, const QStringList& moreArguments)
{
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral(VORLANDT_TRACKING_SERVER),
                   QStringList{QStringLiteral("--port"), QString::number(port), QStringLiteral("--db"),
                               FDatabaseFile, QStringLiteral("--probability"), QString::number(probability)} +
                       moreArguments);
    if (!FProcess.waitForStarted(10000))
        return false;
    QByteArray output;
    while (!output.contains('\n') && FProcess.waitForReadyRead(10000))
        output += FProcess.readAllStandardOutput();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"))
            .match(QString::fromUtf8(output));
    if (!match.hasMatch())
        return false;
    FPort = static_cast<quint16>(match.captured(1).toUInt());
    return true;
}

bool TTrackingServerProcess::Stop()
{
    if (FProcess.state() == QProcess::NotRunning)
        return false;
    FProcess.terminate();
    if (!FProcess.waitForFinished(10000)) {
        FProcess.kill();
        FProcess.waitForFinished(10000);
        return false;
    }
    return FProcess.exitStatus() == QProcess::NormalExit && FProcess.exitCode() == 0;
}

void TTrackingServerProcess::Freeze()
{
    if (FProcess.processId() > 0)
        ::kill(static_cast<pid_t>(FProcess.processId()), SIGSTOP);
}

void TTrackingServerProcess::Thaw()
{
    if (FProcess.processId() > 0)
        ::kill(static_cast<pid_t>(FProcess.processId()), SIGCONT);
}

QList<TStoredCall> TTrackingServerProcess::Calls() const
{
    QList<TStoredCall> calls;
    sqlite3* database = nullptr;
    if (sqlite3_open_v2(FDatabaseFile.toUtf8().constData(), &database, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(database);
        return calls;
    }
    sqlite3_busy_timeout(database, 5000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, "SELECT method, params FROM calls ORDER BY id", -1, &statement,
                           nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto text = [&](int column) {
                return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                                  sqlite3_column_bytes(statement, column));
            };
            calls.append({QString::fromUtf8(text(0)), QJsonDocument::fromJson(text(1)).array()});
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(database);
    return calls;
}

QStringList TTrackingServerProcess::Summary() const
{
    QStringList summary;
    for (const TStoredCall& call : Calls()) {
        if (call.Method == QLatin1String("SendUserEvent"))
            summary << call.Method + u':' + call.Params.at(8).toString();
        else
            summary << call.Method;
    }
    return summary;
}
