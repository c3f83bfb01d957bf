// Every installed program answers --help and --version the same way (stdout, exit 0, no display
// needed) and turns a wrong call into the usage on stderr with exit status 2, before it touches
// any store, folder or port.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct TProgram {
    const char* name;
    const char* path;
};

const TProgram Programs[] = {
#ifdef VORLANDT_UPDATER_EXE
    {"VorlandtOnlineUpdater", VORLANDT_UPDATER_EXE},
#endif
    {"vorlandt-update-check", VORLANDT_UPDATE_CHECK_EXE},
    {"vorlandt-reg", VORLANDT_REG_EXE},
    {"vorlandt-userlog", VORLANDT_USERLOG_EXE},
    {"vorlandt-sign", VORLANDT_SIGN_EXE},
    {"vorlandt-publish", VORLANDT_PUBLISH_EXE},
    {"vorlandt-tracking-server", VORLANDT_TRACKING_SERVER_EXE},
    {"VorlandtUpdate.exe", VORLANDT_DEMO_INSTALLER_EXE},
};

}  // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answersAlike_data();
    void answersAlike();
};

void TestCommandLine::answersAlike_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("outStart");
    QTest::addColumn<QByteArray>("errStart");

    for (const TProgram& p : Programs) {
        const QByteArray usage = QByteArray("Aufruf: ") + p.name + ' ';
        const QByteArray version = QByteArray(p.name) + " (Vorlandt Online-Updater) " VORLANDT_VERSION "\n";
        const QByteArray complaint = QByteArray(p.name) + ": ";
        const auto row = [&](const char* what) {
            return &QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(p.name, what)));
        };
        *row("--help") << p.name << p.path << QStringList{"--help"} << 0 << usage << QByteArray();
        *row("-h") << p.name << p.path << QStringList{"-h"} << 0 << usage << QByteArray();
        *row("--version") << p.name << p.path << QStringList{"--version"} << 0 << version << QByteArray();
        *row("unknown option") << p.name << p.path << QStringList{"--gibt-es-nicht"} << 2 << QByteArray()
                               << complaint;
    }
    // A search that only looks cannot install.
    QTest::newRow("vorlandt-update-check --check-only --accept")
        << "vorlandt-update-check" << VORLANDT_UPDATE_CHECK_EXE << QStringList{"--check-only", "--accept"}
        << 2 << QByteArray() << QByteArray("vorlandt-update-check: --check-only und --accept");
}

void TestCommandLine::answersAlike()
{
    QFETCH(QString, program);
    QFETCH(QString, path);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, outStart);
    QFETCH(QByteArray, errStart);

    // No display for the answers that need none: the window program must give them before Qt
    // looks for one. A wrong call may open the offscreen platform, so it keeps the test's.
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());  // keeps Qt's warning off stderr
    if (exitCode == 0) {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home.path());
    process.start(path, args);
    QVERIFY2(process.waitForFinished(60000), qPrintable(program));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(process.exitCode() == exitCode, err.constData());
    if (exitCode == 0) {
        QVERIFY2(out.startsWith(outStart), out.constData());
        QCOMPARE(err, QByteArray());
    } else {
        QCOMPARE(out, QByteArray());
        QVERIFY2(err.startsWith(errStart), err.constData());
        QVERIFY2(err.contains("\nAufruf: " + program.toUtf8() + ' '), err.constData());
    }
    // The usage names both answers, so that the one who reads it finds the other.
    if (args == QStringList{"--help"}) {
        QVERIFY(out.contains("--version"));
        QVERIFY(out.contains("Exit-Status:"));
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandLine.moc"
