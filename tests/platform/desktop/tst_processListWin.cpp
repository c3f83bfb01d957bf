// The busy check's process list on Windows: a program that runs is listed under its executable's
// file name, in the spelling it has on disk, and is gone from the next snapshot once it ended.
#include "core/platform/desktop/ProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace platform;

namespace {

// The entries of a fresh snapshot that carry `pid`.
QStringList NamesOf(qint64 pid)
{
    const ProcessList list = ProcessList::Read();
    QStringList names;
    if (!list.readable())
        return {QStringLiteral("<unreadable>")};
    for (const ProcessList::Entry& entry : list.entries()) {
        if (entry.pid == pid)
            names.append(entry.exePath);
    }
    return names;
}

}  // namespace

class TestProcessListWin : public QObject {
    Q_OBJECT

private slots:
    // `asked` is how the busy check's table may spell the name: ASCII letters match in any case,
    // every other character only as it is.
    void runningProgramIsListedByItsFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("matches");
        QTest::newRow("plain") << QStringLiteral("Vorlandt-Probe.exe") << QStringLiteral("VORLANDT-PROBE.EXE")
                               << true;
        QTest::newRow("umlauts and blanks")
            << QStringLiteral("Vorlandt-übung ä.exe") << QStringLiteral("VORLANDT-übung ä.EXE") << true;
        QTest::newRow("umlauts in another case")
            << QStringLiteral("Vorlandt-übung ä.exe") << QStringLiteral("Vorlandt-Übung Ä.exe") << false;
    }

    void runningProgramIsListedByItsFileName()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString program = dir.filePath(name);
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/childHelper.exe"),
                            program));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VORLANDT_CHILD_SLEEP_MS"), QStringLiteral("60000"));
        environment.remove(QStringLiteral("VORLANDT_CHILD_REPORT"));
        child.setProcessEnvironment(environment);
        child.start(program, {});
        QVERIFY(child.waitForStarted());
        const qint64 pid = child.processId();

        const QStringList names = NamesOf(pid);
        QCOMPARE(names, QStringList{name});
        QFETCH(QString, asked);
        QFETCH(bool, matches);
        QCOMPARE(SameProcessName(ProcessFileNamePart(names.first()), asked), matches);

        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(NamesOf(pid), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestProcessListWin)
#include "tst_processListWin.moc"
