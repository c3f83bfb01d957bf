// The busy-application check against real processes: copies of /bin/sleep run under the names
// of the suite's executables, with argv[0] set the way a compatibility layer sets it.
#include "core/platform/desktop/ProcessList.h"
#include "core/services/BusyCheck.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <set>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Starts `program` with the given argv[0] and returns once it runs as that program (the pipe
// closes on exec), so /proc already shows the new executable. The child dies with this test
// even when the test crashes.
pid_t StartSleeper(const QString& program, const QString& argv0)
{
    const QByteArray path = QFile::encodeName(program);
    const QByteArray arg0 = QFile::encodeName(argv0);
    char seconds[] = "300";
    char* const argv[] = {const_cast<char*>(arg0.constData()), seconds, nullptr};
    int sync[2];
    if (::pipe2(sync, O_CLOEXEC) != 0)
        return -1;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(sync[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::execv(path.constData(), argv);
        const char failed = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(sync[1], &failed, 1);
        ::_exit(127);
    }
    ::close(sync[1]);
    if (pid < 0) {
        ::close(sync[0]);
        return -1;
    }
    char failed = 0;
    ssize_t got;
    do {
        got = ::read(sync[0], &failed, 1);
    } while (got < 0 && errno == EINTR);
    ::close(sync[0]);
    if (got == 1) {
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

QStringList ExpectedLog(const std::set<QString>& running, const QString& result)
{
    QStringList lines{QStringLiteral("VorlandtProzesseAktiv - Start")};
    for (const TBusyApplication& row : BusyApplicationTable()) {
        const QString key = QStringView(row.exeName).toString();
        lines << QStringLiteral("processExists - Überprüfung auf Prozess \"") + key + u'"'
              << QStringLiteral("processExists - Ende - Result: ") +
                     (running.count(key) ? QStringLiteral("True") : QStringLiteral("False"));
    }
    lines << QStringLiteral("VorlandtProzesseAktiv - Ende - Result: ") + result;
    return lines;
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

}  // namespace

class TestBusyCheck : public QObject {
    Q_OBJECT

private:
    TPrivateStores FStores;
    QTemporaryDir FBinDir;
    std::vector<pid_t> FChildren;

    // A copy of /bin/sleep under the given file name, so that /proc/PID/exe carries that name.
    QString Program(const QString& fileName)
    {
        const QString path = FBinDir.filePath(fileName);
        if (!QFile::exists(path)) {
            if (!QFile::copy(QStringLiteral("/bin/sleep"), path))
                return QString();
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        return path;
    }

    bool Start(const QString& fileName, const QString& argv0 = QString())
    {
        const QString program = Program(fileName);
        if (program.isEmpty())
            return false;
        const pid_t pid = StartSleeper(program, argv0.isEmpty() ? program : argv0);
        if (pid <= 0)
            return false;
        FChildren.push_back(pid);
        return true;
    }

    // Only this test's children: the exact texts must not depend on what else runs here (a
    // second run of this very test, for instance).
    platform::ProcessList OwnChildren() const
    {
        const platform::ProcessList all = platform::ProcessList::Read();
        std::vector<platform::ProcessList::Entry> own;
        for (const auto& entry : all.entries())
            if (std::find(FChildren.begin(), FChildren.end(), entry.pid) != FChildren.end())
                own.push_back(entry);
        return platform::ProcessList(std::move(own), all.readable());
    }

    void StopChildren()
    {
        for (const pid_t pid : FChildren) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        FChildren.clear();
    }

    static void SetLogSwitch(bool on)
    {
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, on);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FStores.IsValid());
        QVERIFY(FBinDir.isValid());
    }

    void cleanup()
    {
        StopChildren();
        SetLogSwitch(true);
        WriteLog(TLogAction::DiscardBuffer, QString());
        SetLogSwitch(false);
    }

    void cleanupTestCase() { StopChildren(); }

    void processExistsMatchesRunningProgram_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("argv0");  // empty: the program's full path, as a shell passes it
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");

        QTest::newRow("same name") << "VLTESTAPP.exe"
                                   << ""
                                   << "VLTESTAPP.exe" << true;
        QTest::newRow("ASCII letters in other case") << "VLTESTAPP.exe"
                                                     << ""
                                                     << "vltestapp.EXE" << true;
        QTest::newRow("non-ASCII letter in other case") << "Ärger.exe"
                                                        << ""
                                                        << "ärger.exe" << false;
        QTest::newRow("non-ASCII letter equal, ASCII folded") << "Ärger.exe"
                                                              << ""
                                                              << "ÄRGER.EXE" << true;
        QTest::newRow("executable path, argv[0] differs") << "VLEXEONLY.exe"
                                                          << "anders"
                                                          << "vlexeonly.exe" << true;
        QTest::newRow("Windows path in argv[0]") << "vl-plain"
                                                 << "C:\\Programme\\Vorlandt\\Modul.exe"
                                                 << "MODUL.exe" << true;
        QTest::newRow("drive-relative argv[0]") << "vl-plain"
                                                << "C:MODUL.EXE"
                                                << "Modul.exe" << true;
        QTest::newRow("whole Windows path") << "vl-plain"
                                            << "C:\\Programme\\Vorlandt\\Modul.exe"
                                            << "c:\\programme\\vorlandt\\modul.exe" << true;
        QTest::newRow("whole executable path") << "VLTESTAPP.exe"
                                               << "anders"
                                               << "<bin>/VLTESTAPP.exe" << true;
        QTest::newRow("only the end of the file name") << "VLTESTAPP.exe"
                                                       << ""
                                                       << "TESTAPP.exe" << false;
        QTest::newRow("without extension") << "VLTESTAPP.exe"
                                           << ""
                                           << "VLTESTAPP" << false;
        QTest::newRow("a folder of the path") << "vl-plain"
                                              << "C:\\Programme\\Vorlandt\\Modul.exe"
                                              << "Vorlandt" << false;
        QTest::newRow("empty name, argv[0] ending in a separator") << "vl-plain"
                                                                   << "C:\\Vorlandt\\"
                                                                   << "" << false;
    }

    void processExistsMatchesRunningProgram()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, argv0);
        QFETCH(QString, name);
        QFETCH(bool, expected);
        name.replace(QStringLiteral("<bin>"), FBinDir.path());

        QVERIFY(Start(fileName, argv0));
        QCOMPARE(processExists(name), expected);
        QCOMPARE(processExists(name, OwnChildren()), expected);
        StopChildren();
        QCOMPARE(processExists(name, OwnChildren()), false);
    }

    void programReplacedWhileRunningStillCounts()
    {
        // An update that replaces a running executable leaves the process running the old file.
        QVERIFY(Start(QStringLiteral("VLERSETZT.exe"), QStringLiteral("anders")));
        QVERIFY(QFile::remove(FBinDir.filePath(QStringLiteral("VLERSETZT.exe"))));
        QVERIFY(processExists(QStringLiteral("vlersetzt.exe")));
    }

    void listsRunningApplications_data()
    {
        QTest::addColumn<QStringList>("running");
        QTest::addColumn<QString>("expected");

        QTest::newRow("none") << QStringList() << "";
        QTest::newRow("one, without a line break")
            << QStringList{"Buchhaltung.exe"} << "    Vorlandt-Buchhaltung";
        QTest::newRow("two, in table order") << QStringList{"Faktura.exe", "Buchhaltung.exe"}
                                             << "    Vorlandt-Buchhaltung\r\n    Vorlandt-Faktura";
        QTest::newRow("both flavours of one application listed twice")
            << QStringList{"Steuer.aipexe", "Steuer.exe"}
            << "    Vorlandt-Einkommensteuer\r\n    Vorlandt-Einkommensteuer";
        QTest::newRow("one application running twice listed once")
            << QStringList{"Kassenbuch.exe", "Kassenbuch.exe"} << "    Vorlandt-Kassenbuch";
        QTest::newRow("upper-case key matches a lower-case file")
            << QStringList{"zeiterfassung.exe"} << "    Vorlandt-Zeiterfassung";
        QTest::newRow("names outside the table") << QStringList{"Buchhaltung", "Buchhaltung.exe.bak"} << "";
    }

    void listsRunningApplications()
    {
        QFETCH(QStringList, running);
        QFETCH(QString, expected);
        for (const QString& fileName : running)
            QVERIFY(Start(fileName));
        QCOMPARE(VorlandtProzesseAktiv(OwnChildren()), expected);
    }

    void listsApplicationFromTheLiveProcessList()
    {
        QVERIFY(Start(QStringLiteral("Datensicherung.exe")));
        QVERIFY(VorlandtProzesseAktiv()
                    .split(QStringLiteral("\r\n"))
                    .contains(QStringLiteral("    Vorlandt-Datensicherung")));
    }

    void logsTwoLinesPerRowBetweenStartAndEnd_data()
    {
        QTest::addColumn<QStringList>("running");
        QTest::addColumn<QString>("result");

        QTest::newRow("none") << QStringList() << "";
        QTest::newRow("two, result over two lines")
            << QStringList{"Warenwirtschaft.aipexe", "Buchhaltung.exe"}
            << "    Vorlandt-Buchhaltung\r\n    Vorlandt-Warenwirtschaft";
    }

    void logsTwoLinesPerRowBetweenStartAndEnd()
    {
        QFETCH(QStringList, running);
        QFETCH(QString, result);
        for (const QString& fileName : running)
            QVERIFY(Start(fileName));
        const platform::ProcessList snapshot = OwnChildren();
        SetLogSwitch(true);
        WriteLog(TLogAction::StartBuffer, QString());

        QCOMPARE(VorlandtProzesseAktiv(snapshot), result);
        const std::set<QString> keys(running.begin(), running.end());
        QCOMPARE(LogBuffer().value_or(QStringList{"<no buffer>"}), ExpectedLog(keys, result));
    }

    void processExistsLogsNameAndResult_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("running") << "vltestapp.exe"
                                 << QStringList{"processExists - Überprüfung auf Prozess \"vltestapp.exe\"",
                                                "processExists - Ende - Result: True"};
        QTest::newRow("not running, quotes kept")
            << "Ärger \"alt\".exe"
            << QStringList{"processExists - Überprüfung auf Prozess \"Ärger \"alt\".exe\"",
                           "processExists - Ende - Result: False"};
    }

    void processExistsLogsNameAndResult()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        QVERIFY(Start(QStringLiteral("VLTESTAPP.exe")));
        SetLogSwitch(true);
        WriteLog(TLogAction::StartBuffer, QString());

        processExists(name);
        QCOMPARE(LogBuffer().value_or(QStringList{"<no buffer>"}), expected);
    }

    void unreadableProcessListReportsNothingRunning_data()
    {
        QTest::addColumn<QString>("root");
        QTest::newRow("missing folder") << "<tmp>/keins";
        QTest::newRow("a file, not a folder") << "<tmp>/datei";
    }

    void unreadableProcessListReportsNothingRunning()
    {
        QFETCH(QString, root);
        QTemporaryDir dir;
        WriteFile(dir.filePath(QStringLiteral("datei")), "1");
        root.replace(QStringLiteral("<tmp>"), dir.path());
        QVERIFY(Start(QStringLiteral("Buchhaltung.exe")));

        const platform::ProcessList list = platform::ProcessList::Read(root);
        QVERIFY(!list.readable());
        QVERIFY(list.entries().empty());
        QCOMPARE(processExists(QStringLiteral("Buchhaltung.exe"), list), false);
        QCOMPARE(VorlandtProzesseAktiv(list), QString());
    }

    void readsExecutableAndArgv0FromProcLayout()
    {
        // A folder laid out like /proc shows the cases a live system produces only by chance.
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const auto process = [&](const char* pid, const QByteArray& exeTarget, const QByteArray* cmdline) {
            const QString folder = root.filePath(QString::fromLatin1(pid));
            QVERIFY(QDir().mkpath(folder));
            if (!exeTarget.isEmpty())
                QCOMPARE(::symlink(exeTarget.constData(), QFile::encodeName(folder + "/exe").constData()), 0);
            if (cmdline)
                WriteFile(folder + "/cmdline", *cmdline);
        };
        const QByteArray windows("C:\\Programme\\Vorlandt\\Modul.exe\0-a\0", 33);
        const QByteArray alt("alt\0", 4);
        const QByteArray noNul("ohne-nul");
        const QByteArray empty;
        const QByteArray longArg = QByteArray(5000, 'a') + QByteArray("\0b\0", 3);
        process("1", "/usr/bin/Modul.exe", &windows);
        process("22", "/opt/Alt.exe (deleted)", &alt);
        process("333", "", &noNul);                           // another user's process: no exe link
        process("4444", "", &empty);                          // kernel thread
        process("55", "/usr/bin/lang", &longArg);             // argv[0] beyond one read
        process("6", "/usr/bin/\xC3\x9Cmlaut.exe", nullptr);  // ended between the two reads
        process("12a", "/usr/bin/keine-pid", &alt);
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("sys"))));
        QCOMPARE(::symlink("1", QFile::encodeName(root.filePath(QStringLiteral("self"))).constData()), 0);

        const platform::ProcessList list = platform::ProcessList::Read(root.path());
        QVERIFY(list.readable());
        QStringList seen;
        for (const auto& entry : list.entries())
            seen << QStringLiteral("%1|%2|%3").arg(entry.pid).arg(entry.exePath, entry.argv0);
        seen.sort();
        QCOMPARE(seen, QStringList({"1|/usr/bin/Modul.exe|C:\\Programme\\Vorlandt\\Modul.exe",
                                    "22|/opt/Alt.exe|alt", "333||ohne-nul",
                                    "55|/usr/bin/lang|" + QString(5000, u'a'), "6|/usr/bin/Ümlaut.exe|"}));
    }
};

QTEST_GUILESS_MAIN(TestBusyCheck)
#include "tst_busyCheck.moc"
