// The installer's start on Windows: run in its own folder with its arguments exactly as given,
// waited for while events go on, its exit code in all 32 bits; and when it cannot start, the path
// and the system's reason.
#include "core/platform/desktop/ProgramStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace platform;

class TestProgramStartWin : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FFolder;     // a folder with a blank in its name, like "Program Files"
    QString FInstaller;  // the child helper as VorlandtUpdate.exe
    QString FReport;

    QStringList report() const
    {
        QFile file(FReport);
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("<no report>")};
        return QString::fromLocal8Bit(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FFolder = FDir.filePath(QStringLiteral("KR Software"));
        QVERIFY(QDir().mkpath(FFolder));
        FInstaller = FFolder + QStringLiteral("/VorlandtUpdate.exe");
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/childHelper.exe"),
                            FInstaller));
        FReport = FDir.filePath(QStringLiteral("report.txt"));
        qputenv("VORLANDT_CHILD_REPORT", QDir::toNativeSeparators(FReport).toLocal8Bit());
    }

    void init()
    {
        QFile::remove(FReport);
        qunsetenv("VORLANDT_CHILD_EXIT");
        qunsetenv("VORLANDT_CHILD_SLEEP_MS");
    }

    void cleanupTestCase()
    {
        qunsetenv("VORLANDT_CHILD_REPORT");
        qunsetenv("VORLANDT_CHILD_EXIT");
        qunsetenv("VORLANDT_CHILD_SLEEP_MS");
    }

    void installerRunsInItsFolderWithItsArgumentsAndExitCode_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("code");
        QTest::newRow("the hand-over")
            << QStringList{QStringLiteral("-DoUpdateJobs")} << QByteArray("0") << 0;
        QTest::newRow("a failing installer")
            << QStringList{QStringLiteral("-DoUpdateJobs")} << QByteArray("3") << 3;
        QTest::newRow("an exception's status stays a status")
            << QStringList{QStringLiteral("-DoUpdateJobs")} << QByteArray("0xC0000005")
            << static_cast<int>(0xC0000005u);
        QTest::newRow("blanks, quotes, backslashes")
            << QStringList{QStringLiteral("a b"), QStringLiteral("q\"uote"), QStringLiteral("trail\\"),
                           QStringLiteral("x\\\"y"), QStringLiteral("C:\\Pfad mit\\")}
            << QByteArray("0") << 0;
    }

    void installerRunsInItsFolderWithItsArgumentsAndExitCode()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, status);
        QFETCH(int, code);
        qputenv("VORLANDT_CHILD_EXIT", status);
        const TProgramEnd end = StartProgramAndWait(FInstaller, arguments, FFolder + u'/');
        QVERIFY(end.Started);
        QVERIFY(!end.Signalled);
        QCOMPARE(end.Code, code);
        QCOMPARE(report(), QStringList{QDir::toNativeSeparators(FFolder)} + arguments);
    }

    void eventsGoOnWhileTheInstallerRuns()
    {
        qputenv("VORLANDT_CHILD_SLEEP_MS", "500");
        bool fired = false;
        QTimer::singleShot(50, this, [&fired] { fired = true; });
        QVERIFY(StartProgramAndWait(FInstaller, {}, QString()).Started);
        QVERIFY(fired);
    }

    void installerThatCannotStartNamesPathAndReason_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QStringLiteral("Fehlt/VorlandtUpdate.exe") << QByteArray()
                                 << QStringLiteral("(Systemfehler 3)");
        QTest::newRow("missing in an existing folder")
            << QStringLiteral("VorlandtUpdate.exe") << QByteArray() << QStringLiteral("(Systemfehler 2)");
        QTest::newRow("no program") << QStringLiteral("Kaputt/VorlandtUpdate.exe")
                                    << QByteArray("kein Programm") << QStringLiteral("(Systemfehler 193)");
    }

    void installerThatCannotStartNamesPathAndReason()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString file = dir.filePath(name);
        if (!content.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            QFile program(file);
            QVERIFY(program.open(QIODevice::WriteOnly));
            program.write(content);
        }
        const TProgramEnd end = StartProgramAndWait(file, {QStringLiteral("-DoUpdateJobs")}, QString());
        QVERIFY(!end.Started);
        QCOMPARE(end.Program, QDir::toNativeSeparators(file));
        QVERIFY2(end.Reason.endsWith(reason), qPrintable(end.Reason));
        // The system's own words come first.
        QVERIFY2(end.Reason.size() > reason.size() + 1, qPrintable(end.Reason));
    }
};

QTEST_GUILESS_MAIN(TestProgramStartWin)
#include "tst_programStartWin.moc"
