// vorlandt-tracking-server as the tests and the demo start it: it says where it listens, ends
// cleanly on either stop signal, and a server that cannot start says why in one line and exit
// status 1, apart from the wrong calls that get the usage.
#include "support/ToolRun.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QString Server = QStringLiteral(VORLANDT_TRACKING_SERVER_EXE);

// Started on a free port; the port it chose, or 0 when it did not say where it listens.
quint16 StartOnFreePort(QProcess& process, const QString& database)
{
    process.start(Server, {QStringLiteral("--db"), database, QStringLiteral("--port"), QStringLiteral("0")});
    if (!process.waitForStarted(10000))
        return 0;
    QByteArray output;
    while (!output.contains('\n') && process.waitForReadyRead(10000))
        output += process.readAllStandardOutput();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\n$"))
            .match(QString::fromUtf8(output));
    return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
}

}  // namespace

class TestTrackingServer : public QObject {
    Q_OBJECT

private slots:
    void stopSignalEndsItCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void stopSignalEndsItCleanly()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess server;
        QVERIFY(StartOnFreePort(server, dir.filePath(QStringLiteral("calls.db"))) != 0);
        QCOMPARE(::kill(pid_t(server.processId()), signal), 0);
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
        QCOMPARE(server.readAllStandardOutput(), QByteArray());
        QCOMPARE(server.readAllStandardError(), QByteArray());
    }

    void failedStartSaysWhy_data()
    {
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<QString>("database");   // in the test's folder
        QTest::addColumn<QString>("complaint");  // %1: the port taken
        QTest::newRow("database in a missing folder") << false << "fehlt/calls.db"
                                                      << "vorlandt-tracking-server: Datenbank: ";
        QTest::newRow("port taken") << true << "calls.db"
                                    << "vorlandt-tracking-server: Port %1: ";
    }

    void failedStartSaysWhy()
    {
        QFETCH(bool, portTaken);
        QFETCH(QString, database);
        QFETCH(QString, complaint);
        QTemporaryDir dir;
        QProcess first;
        quint16 port = 0;
        if (portTaken) {
            port = StartOnFreePort(first, dir.filePath(QStringLiteral("first.db")));
            QVERIFY(port != 0);
        }

        const TToolRun run = RunTool(Server, {QStringLiteral("--db"), dir.filePath(database),
                                              QStringLiteral("--port"), QString::number(port)});
        if (portTaken) {
            first.terminate();
            QVERIFY(first.waitForFinished(10000));
        }
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        const QByteArray expected = complaint.arg(port).toUtf8();
        QVERIFY2(run.err.startsWith(expected), run.err.constData());
        QVERIFY2(run.err.endsWith('\n') && run.err.count('\n') == 1, run.err.constData());
        QVERIFY2(!run.err.contains("Aufruf:"), run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestTrackingServer)
#include "tst_trackingServer.moc"
