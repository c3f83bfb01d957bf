// What another local user can and cannot do to a user's update, with the real programs on a
// data folder set up as the package does (root's, 1777; the log the system user's, 0644, set up
// by the writer itself; the writer set-user-id root): links planted under every name the
// programs write, two users updating side by side while one of them attacks, attacks on the
// shared log, two installers adding to the log at once, and a second run while one is active.
#include "core/catalog/UserLogFile.h"
#include "core/platform/files/FileLock.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/text/TextCodec.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/ChildRun.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t FirstUser = 64001;
constexpr uid_t SecondUser = 64002;
// The owner of the shared log, user and group (vorlandt-log on an installed machine).
constexpr uid_t LogOwner = 64010;
// Where the test build of the log writer looks for the data folder and its state folder when it
// runs set-id: links to this test's folders (the installed writer has /var/lib compiled in).
const QString WriterDataParent = QStringLiteral(VORLANDT_WRITER_PROBE_DATA_PARENT);
const QString WriterStateDir = QStringLiteral(VORLANDT_WRITER_PROBE_STATE_DIR);

const QByteArray VictimBytes("Inhalt, den niemand überschreiben darf\n");

QString Today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

// A descriptor offering one update (minor version 3, sub-version 2) of the module registered
// under `registrationKey`.
QByteArray Descriptor(const QString& registrationKey)
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<m verzeichnis_reg_rootkey=\"{HKLM}\" verzeichnis_reg_key=\"%1\" "
               "verzeichnis_reg_name=\"Pfad\"><version nr=\"3\"><update nr=\"2\" filename=\"x.exe\" "
               "typ=\"execute\"><beschreibung>{\\rtf1\\ansi Neue Kennzahlen\\par}</beschreibung>"
               "</update></version></m>\n")
        .arg(registrationKey)
        .toUtf8();
}

}  // namespace

class TestLocalUsers : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;

    QString Path(const QString& name) const { return FDir->filePath(name); }
    QString DataDir() const { return Path(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0/")); }
    QString UserLog() const { return DataDir() + QStringLiteral("VL_Userlog.txt"); }
    // Each user's own folders; "" is the user running the tests.
    QString Home(const QString& user) const
    {
        return Path(user.isEmpty() ? QStringLiteral("ich") : user) + u'/';
    }
    QString TempDir(const QString& user) const { return Home(user) + QStringLiteral("tmp/"); }
    QString ModuleDir(int nr) const { return Path(QStringLiteral("suite/Modul%1/").arg(nr)); }
    QString SiteInfo(int nr) const { return ModuleDir(nr) + QStringLiteral("siteinfo_%1.ini").arg(nr); }

    QProcessEnvironment Environment(const QString& user) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), Home(user));
        environment.insert(QStringLiteral("TMPDIR"), TempDir(user));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home(user) + QStringLiteral("config"));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), Home(user) + QStringLiteral("state"));
        environment.insert(QStringLiteral("VORLANDT_USER_STORE"), Home(user) + QStringLiteral("user.db"));
        environment.insert(QStringLiteral("VORLANDT_MACHINE_STORE"),
                           Path(QStringLiteral("machine/machine.db")));
        environment.insert(QStringLiteral("VORLANDT_PROGRAMDATA"), WriterDataParent);
        environment.insert(QStringLiteral("VORLANDT_USERLOG_WRITER"), Writer());
        environment.insert(QStringLiteral("VORLANDT_USERLOG_STATE"), WriterStateDir);
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        return environment;
    }

    // Runs a program as the given test user (a uid as text) through setpriv, or as ourselves.
    QProcess* Start(const QString& user, const QString& program, const QStringList& arguments) const
    {
        auto* process = new QProcess();
        process->setProcessEnvironment(Environment(user));
        process->setWorkingDirectory(FDir->path());
        process->setStandardInputFile(QProcess::nullDevice());
        if (user.isEmpty()) {
            process->start(program, arguments);
        } else {
            process->start(QStringLiteral("setpriv"),
                           QStringList{QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
                                       QStringLiteral("--clear-groups"), QStringLiteral("--"), program} +
                               arguments);
        }
        return process;
    }

    static TRun Finish(QProcess* process)
    {
        std::unique_ptr<QProcess> owner(process);
        TRun run;
        if (!process->waitForStarted(30000))
            return run;
        if (!process->waitForFinished(240000)) {
            process->kill();
            process->waitForFinished(5000);
            return run;
        }
        run.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        run.out = QString::fromUtf8(process->readAllStandardOutput());
        run.err = QString::fromUtf8(process->readAllStandardError());
        return run;
    }

    TRun Run(const QString& user, const QString& program, const QStringList& arguments = {}) const
    {
        return Finish(Start(user, program, arguments));
    }

    TRun Shell(const QString& user, const QString& script) const
    {
        return Run(user, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    }

    // The user's settings: the local source folder that offers only `modules`.
    void PrepareUser(const QString& user, const QList<int>& modules)
    {
        const QString source = Home(user) + QStringLiteral("quelle/");
        for (const int nr : modules) {
            QVERIFY(WriteFile(source + QStringLiteral("Modul_%1/update_%1_12.xml").arg(nr),
                              Descriptor(QStringLiteral("Software\\KRSoftware\\Module\\Modul%1").arg(nr))));
        }
        QVERIFY(WriteFile(source + QStringLiteral("news/news.xml"),
                          "<news><item id=\"1\" updaterversion=\"6\" datum=\"01.02.2026\"><beschreibung>"
                          "{\\rtf1\\ansi Herstellernachricht\\par}</beschreibung></item></news>"));
        QVERIFY(QDir().mkpath(TempDir(user)));
        QCOMPARE(::chmod(QFile::encodeName(TempDir(user)).constData(), 0700), 0);
        qputenv("VORLANDT_USER_STORE", QFile::encodeName(Home(user) + QStringLiteral("user.db")));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource, source);
    }

    void GiveTo(const QString& path, const QString& user) const
    {
        QCOMPARE(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), user + u':' + user, path}),
                 0);
    }

    // A copy of root's: the diagnostic log goes beside the program when its folder is writable,
    // which must not be the build folder every test shares.
    QString UpdateCheck() const { return Path(QStringLiteral("bin/vorlandt-update-check")); }
    QString Userlog() const { return QStringLiteral(VORLANDT_USERLOG_EXE); }
    // The log writer as the package installs it: root's, of the log's group, mode 2755.
    QString Writer() const { return Path(QStringLiteral("bin/vorlandt-userlog-writer")); }

    static bool TwoUsersPossible()
    {
        return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
    }

    // The machine as the package leaves it: the writer set-user-id root, its state folder the
    // log owner's (0700), and the log set up by the writer as root at installation. Needs root;
    // without it the log stays this user's own.
    void SetUpSharedLog() const
    {
        QVERIFY(QFile::copy(QStringLiteral(VORLANDT_USERLOG_WRITER_PROBE_EXE), Writer()));
        const QByteArray state = QFile::encodeName(Path(QStringLiteral("state")));
        QCOMPARE(::mkdir(state.constData(), 0700), 0);
        QFile::remove(WriterStateDir);
        QVERIFY(QFile::link(Path(QStringLiteral("state")), WriterStateDir));
        if (::geteuid() != 0)
            return;
        QCOMPARE(::chown(state.constData(), LogOwner, LogOwner), 0);
        QCOMPARE(::chown(QFile::encodeName(Writer()).constData(), 0, 0), 0);
        QCOMPARE(::chmod(QFile::encodeName(Writer()).constData(), 04755), 0);
        const TRun setUp = Run(QString(), Writer(), {QStringLiteral("--einrichten")});
        QVERIFY2(setUp.exitCode == 0, qPrintable(setUp.err));
        ExpectSharedLog();
    }

    // The log as the writer keeps it: the owner's, 0644, one name.
    void ExpectSharedLog() const
    {
        struct stat info {};
        QCOMPARE(::lstat(QFile::encodeName(UserLog()).constData(), &info), 0);
        QCOMPARE(info.st_uid, LogOwner);
        QCOMPARE(info.st_gid, gid_t(LogOwner));
        QCOMPARE(info.st_mode & 07777, mode_t(0644));
        QCOMPARE(info.st_nlink, nlink_t(1));
    }

private Q_SLOTS:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/tst_localUsers-XXXXXX"));
        QVERIFY(FDir->isValid());
        // The test users must reach their folders below this one.
        QCOMPARE(::chmod(QFile::encodeName(FDir->path()).constData(), 0755), 0);
        QVERIFY(QDir().mkpath(DataDir()));
        for (const QString& folder : {QStringLiteral("programdata"), QStringLiteral("programdata/Vorlandt"),
                                      QStringLiteral("programdata/Vorlandt/OnlineUpdater")})
            QCOMPARE(::chmod(QFile::encodeName(Path(folder)).constData(), 0755), 0);
        // As the README sets it up.
        QCOMPARE(::chmod(QFile::encodeName(DataDir()).constData(), 01777), 0);
        QVERIFY(WriteFile(UserLog(), QByteArray()));
        QFile::remove(WriterDataParent);
        QVERIFY(QFile::link(Path(QStringLiteral("programdata")), WriterDataParent));

        QVERIFY(QDir().mkpath(Path(QStringLiteral("bin"))));
        SetUpSharedLog();
        QVERIFY(QFile::copy(QStringLiteral(VORLANDT_UPDATE_CHECK_EXE), UpdateCheck()));
        QVERIFY(QDir().mkpath(Path(QStringLiteral("machine"))));
        qputenv("VORLANDT_MACHINE_STORE", QFile::encodeName(Path(QStringLiteral("machine/machine.db"))));
        const QString suite = Path(QStringLiteral("suite/"));
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, suite);
        QVERIFY(QDir().mkpath(suite));
        QVERIFY(QFile::link(QStringLiteral(VORLANDT_DEMO_INSTALLER_EXE),
                            suite + QStringLiteral("VorlandtUpdate.exe")));
        for (const int nr : {42, 7}) {
            const QString name = QStringLiteral("Modul%1").arg(nr);
            const QString registration = SettingsKeys::OnlineUpdateModule + name;
            WriteIntegerValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateID, nr);
            WriteIntegerValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateHauptversion, 12);
            WriteStringValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateModulbezeichnung,
                             QStringLiteral("Vorlandt %1").arg(name));
            WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware\\Module\\") + name,
                             SettingsKeys::Pfad, ModuleDir(nr));
            QVERIFY(WriteFile(SiteInfo(nr), "hauptversion=12\r\nnebenversion=3\r\nunterversion=1\r\n"));
        }
        QProcess::execute(QStringLiteral("chmod"),
                          {QStringLiteral("-R"), QStringLiteral("a+rX"), Path(QStringLiteral("machine")),
                           suite, Path(QStringLiteral("bin"))});
        PrepareUser(QString(), {42});
    }

    void cleanup()
    {
        QFile::remove(WriterDataParent);
        QFile::remove(WriterStateDir);
        FDir.reset();
    }

    // ---- links planted under every name the programs write ------------------------------------

    void plantedLinkIsReplacedNeverFollowed_data()
    {
        QTest::addColumn<QString>("folder");  // "tmp", "data" or "state"
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");  // empty: the run and the installer work
        const QString today = Today();
        const QString none;
        // clang-format off
        QTest::newRow("descriptor") << "tmp" << "update_42_12.xml" << 0 << none;
        QTest::newRow("news file") << "tmp" << "news.xml" << 0 << none;
        QTest::newRow("temporary log entry") << "tmp" << "VL_UpdateTXT_42_12_3_2.tmp" << 0 << none;
        QTest::newRow("news rich text") << "tmp" << "VL_NewsRTF.tmp" << 0 << none;
        QTest::newRow("job file") << "tmp" << "VL_Update_Jobfile.vuj" << 0 << none;
        QTest::newRow("run lock") << "tmp" << "VL_UpdateRun.lock" << 1
            << "VL_UpdateRun.lock\" kann nicht gesperrt werden: Es ist ein symbolischer Link.";
        // The run works; the installer refuses to read the log through the link, and the console
        // program says that the installer failed.
        QTest::newRow("installed-updates log") << "data" << "VL_Userlog.txt" << 3
            << "VL_Userlog.txt\" kann nicht gelesen werden: Sie ist ein symbolischer Link.";
        QTest::newRow("start-up probe") << "data" << "vltest.ini" << 0 << none;
        QTest::newRow("postponed news") << "data" << QStringLiteral("2026-02-01_%1_1_VL_NewsRTF.tmp").arg(today)
                                        << 0 << none;
        QTest::newRow("diagnostic log") << "state" << "VorlandtOnlineUpdater_Log.txt" << 0 << none;
        // clang-format on
    }

    void plantedLinkIsReplacedNeverFollowed()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        const QString victim = Path(QStringLiteral("opfer.txt"));
        QVERIFY(WriteFile(victim, VictimBytes));
        QCOMPARE(::chmod(QFile::encodeName(victim).constData(), 0666), 0);
        const QString base = folder == u"tmp"    ? TempDir(QString())
                             : folder == u"data" ? DataDir()
                                                 : Home(QString()) + QStringLiteral("state/vorlandt/");
        QFile::remove(base + name);
        QVERIFY(QDir().mkpath(QFileInfo(base + name).path()));
        QVERIFY(QFile::link(victim, base + name));
        qputenv("VORLANDT_USER_STORE", QFile::encodeName(Home(QString()) + QStringLiteral("user.db")));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);

        const TRun run = Run(QString(), UpdateCheck(),
                             {QStringLiteral("--accept"), QStringLiteral("--postpone"), QStringLiteral("0")});

        QCOMPARE(ReadFile(victim), VictimBytes);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        if (!error.isEmpty()) {
            QVERIFY2(run.err.contains(error), qPrintable(run.err));
            return;
        }
        QVERIFY2(ReadFile(UserLog()).contains("Modul: Vorlandt Modul42\r\nVersion: 12.3.2\r\n"),
                 qPrintable(run.err));
        QVERIFY(ReadFile(SiteInfo(42)).contains("unterversion=2"));
        // The run's own files went where they belong, not through the link; a link in the place
        // of a postponed news file is no news of this user's and stays as it was.
        if (!name.startsWith(u"2026"))
            QVERIFY2(!QFileInfo(base + name).isSymLink(), qPrintable(base + name));
    }

    // ---- two users, one of them attacking ------------------------------------------------------

    void secondUserCannotSteerTheFirstUsersUpdate()
    {
        if (!TwoUsersPossible())
            QSKIP("two test users need root and setpriv (util-linux)");
        const QString first = QString::number(FirstUser);
        const QString second = QString::number(SecondUser);
        PrepareUser(first, {42});
        PrepareUser(second, {7});
        for (const QString& user : {first, second})
            GiveTo(Home(user), user);
        GiveTo(ModuleDir(42), first);
        GiveTo(ModuleDir(7), second);

        // The attacker's moves before the first user's run.
        const QString attackerJob =
            QStringLiteral("6;%1update_7_12.xml;7;12;3;2;-;-;Angriff\r\n").arg(TempDir(second));
        const QString postponed = DataDir() + QStringLiteral("2026-02-01_%1_1_VL_NewsRTF.tmp").arg(Today());
        QCOMPARE(Shell(second,
                       QStringLiteral("printf '%1' > '%2'; printf '{\\\\rtf1 ANGRIFF\\\\par}' > '%3'")
                           .arg(attackerJob, DataDir() + QStringLiteral("VL_Update_Jobfile.vuj"), postponed))
                     .exitCode,
                 0);
        // Nothing of the first user's can be reached, replaced or removed.
        QVERIFY(
            Shell(second,
                  QStringLiteral("printf '%1' > '%2VL_Update_Jobfile.vuj'").arg(attackerJob, TempDir(first)))
                .exitCode != 0);
        QVERIFY(Shell(second, QStringLiteral("ln -s /etc/passwd '%1update_42_12.xml'").arg(TempDir(first)))
                    .exitCode != 0);
        QVERIFY(Shell(second, QStringLiteral("echo x > '%1x' && mv -f '%1x' '%2'").arg(DataDir(), UserLog()))
                    .exitCode != 0);
        QVERIFY(Shell(second, QStringLiteral("rm -f '%1'").arg(UserLog())).exitCode != 0);

        const TRun run = Run(first, UpdateCheck(),
                             {QStringLiteral("--accept"), QStringLiteral("--postpone"), QStringLiteral("0")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY2(!run.out.contains(QStringLiteral("ANGRIFF")), qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("Herstellernachricht")), qPrintable(run.out));
        QVERIFY(QFileInfo::exists(postponed));
        // Only what the first user's search found was installed.
        QVERIFY(ReadFile(SiteInfo(42)).contains("unterversion=2"));
        QVERIFY(ReadFile(SiteInfo(7)).contains("unterversion=1"));
        QByteArray log = ReadFile(UserLog());
        QVERIFY(log.contains("Modul: Vorlandt Modul42\r\n"));
        QVERIFY(!log.contains("Angriff"));
        QVERIFY(QFileInfo(TempDir(first) + QStringLiteral("VL_Update_Jobfile.vuj")).ownerId() == FirstUser);

        // The attacker updates as well, and the log keeps both, still root's and of its group.
        const TRun other = Run(second, UpdateCheck(), {QStringLiteral("--accept")});
        QVERIFY2(other.exitCode == 0, qPrintable(other.out + other.err));
        QVERIFY(ReadFile(SiteInfo(7)).contains("unterversion=2"));
        log = ReadFile(UserLog());
        QVERIFY(log.contains("Modul: Vorlandt Modul42\r\n"));
        QVERIFY(log.contains("Modul: Vorlandt Modul7\r\n"));
        ExpectSharedLog();
    }

    // ---- the shared log ---------------------------------------------------------------------------

    // The log as it was on the first machines (root's, everyone's to write, 0666): another user
    // fills it with rich text and gives it a second name under a postponed-news name for today.
    // Root's run does not show it: a postponed item must be a file of the user's own with one
    // name that nobody else may write.
    void secondNameOfTheLogIsNoPostponedNews()
    {
        if (!TwoUsersPossible())
            QSKIP("two test users need root and setpriv (util-linux)");
        QCOMPARE(::chown(QFile::encodeName(UserLog()).constData(), 0, 0), 0);
        QCOMPARE(::chmod(QFile::encodeName(UserLog()).constData(), 0666), 0);
        const QString second = QString::number(SecondUser);
        const QString postponed = DataDir() + QStringLiteral("2026-12-01_%1_1_VL_NewsRTF.tmp").arg(Today());
        QCOMPARE(
            Shell(second,
                  QStringLiteral("printf '{\\\\rtf1 ANGRIFF: curl | sudo sh\\\\par}' > '%1' && ln '%1' '%2'")
                      .arg(UserLog(), postponed))
                .exitCode,
            0);

        const TRun run = Run(QString(), UpdateCheck(),
                             {QStringLiteral("--accept"), QStringLiteral("--postpone"), QStringLiteral("0")});

        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY2(!run.out.contains(QStringLiteral("ANGRIFF")), qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("Herstellernachricht")), qPrintable(run.out));
        // Not a copy of root's: it is neither shown nor deleted.
        QVERIFY(QFileInfo::exists(postponed));
    }

    // Another user cannot write, cut or hard-link the log, and the moves she has left (a huge log
    // from earlier days, a held lock meanwhile released) do not stop anybody's entries: both
    // users' installers add through the writer, and the log stays within its cap.
    void nobodyCanStopTheLogForOthers()
    {
        if (!TwoUsersPossible())
            QSKIP("two test users need root and setpriv (util-linux)");
        const QString first = QString::number(FirstUser);
        const QString second = QString::number(SecondUser);
        PrepareUser(first, {42});
        GiveTo(Home(first), first);
        GiveTo(ModuleDir(42), first);
        QVERIFY(QDir().mkpath(TempDir(second)));
        QCOMPARE(::chmod(QFile::encodeName(TempDir(second)).constData(), 0700), 0);
        GiveTo(Home(second), second);

        QVERIFY(Shell(second, QStringLiteral("printf 'x' >> '%1'").arg(UserLog())).exitCode != 0);
        QVERIFY(Shell(second, QStringLiteral("truncate -s 1G '%1'").arg(UserLog())).exitCode != 0);
        QFile protection(QStringLiteral("/proc/sys/fs/protected_hardlinks"));
        if (protection.open(QIODevice::ReadOnly) && protection.readAll().trimmed() == "1")
            QVERIFY(Shell(second, QStringLiteral("ln '%1' '%2x'").arg(UserLog(), Home(second))).exitCode !=
                    0);
        QCOMPARE(QFileInfo(UserLog()).size(), 0);

        // Sixty megabytes of an old history: each add reads only its front and keeps the cap.
        QByteArray huge;
        const QByteArray old = QByteArrayLiteral(
            "=======================\r\nInstallationsdatum: 01.01.2020\r\n"
            "Modul: Alt\r\nVersion: 1.0.0\r\n=======================\r\n"
            "Alte Zeile\r\n\r\n\r\n");
        while (huge.size() < 60 * 1024 * 1024)
            huge += old;
        QVERIFY(WriteFile(UserLog(), huge));

        const TRun added = Run(second, Userlog(),
                               {QStringLiteral("add"), QStringLiteral("Vorlandt Modul7"), QStringLiteral("7"),
                                QStringLiteral("12"), QStringLiteral("3"), QStringLiteral("2")});
        QVERIFY2(added.exitCode == 0, qPrintable(added.err));
        const TRun run = Run(first, UpdateCheck(), {QStringLiteral("--accept")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(ReadFile(SiteInfo(42)).contains("unterversion=2"));

        const QByteArray log = ReadFile(UserLog());
        QVERIFY(log.size() <= 2 * 1024 * 1024);
        QVERIFY2(log.startsWith("=======================\r\nInstallationsdatum: "),
                 log.left(200).constData());
        QVERIFY(log.left(400).contains("Modul: Vorlandt Modul42\r\nVersion: 12.3.2\r\n"));
        QVERIFY(log.contains("Modul: Vorlandt Modul7\r\nVersion: 12.3.2\r\n"));
        QVERIFY(log.endsWith(old));
        ExpectSharedLog();
    }

    // Another user's moves against the shared log around the first user's entries: limits on her
    // own writer (the log was rewritten in place, and a write cut short by the file-size limit
    // tore it or replaced everybody's entries with hers), a flood of her own entries (the cap
    // pushed out everybody else's), a lock she holds on the data folder and a writer of hers she
    // tries to stop (everybody else's entries waited 30 seconds and were lost). The first user's
    // entries land whole and at once, and the log stays the writer's, without a torn line.
    void attacksOnTheSharedLogFail_data()
    {
        QTest::addColumn<QString>("attack");     // shell, as the second user: %1 the writer, %2 the log
        QTest::addColumn<bool>("meanwhile");     // still running while the first user adds
        QTest::addColumn<int>("herEntriesLeast");  // of hers in the log at the end
        // One entry of hers; "$1" its module name, "$2" the size of its text.
        const QString entry = QStringLiteral(
            "e() { printf '=======================\\r\\nInstallationsdatum: 11.12.2026\\r\\nModul: %s\\r\\n"
            "Version: 1.0.0\\r\\n=======================\\r\\n%s\\r\\n\\r\\n\\r\\n' \"$1\" "
            "\"$(head -c \"$2\" /dev/zero | tr '\\0' x)\"; }; ");
        // clang-format off
        QTest::newRow("file-size limit of her writer, SIGXFSZ ignored")
            << entry + "ulimit -f 1; trap '' XFSZ; for i in 1 2 3 4 5 6 7 8; do e Flut 3000 | %1 %2; done; true"
            << false << 0;
        QTest::newRow("soft limits on size, descriptors and time")
            << entry + "ulimit -S -f 1; ulimit -S -n 6; ulimit -S -t 1; trap '' XFSZ; e Flut 3000 | %1 %2"
            << false << 1;
        QTest::newRow("a flood of large entries of hers")
            << entry + "for i in $(seq 40); do e Flut 60000 | %1 %2 || exit 1; done"
            << false << 25;
        QTest::newRow("a lock held on the data folder")
            << "exec timeout 20 flock \"$(dirname %2)\" sleep 20" << true << 0;
        QTest::newRow("her writer, waiting for its entry, told to stop")
            << "sleep 20 | %1 %2 & w=$!; sleep 1; "
               "kill -STOP \"$w\" || kill -KILL \"$w\" || flock -n \"" + WriterStateDir + "/sperre\" true || "
               "exec sleep 20; echo gestoppt" << true << 0;
        // clang-format on
    }

    void attacksOnTheSharedLogFail()
    {
        if (!TwoUsersPossible())
            QSKIP("two test users need root and setpriv (util-linux)");
        QFETCH(QString, attack);
        QFETCH(bool, meanwhile);
        QFETCH(int, herEntriesLeast);
        const QString first = QString::number(FirstUser);
        const QString second = QString::number(SecondUser);
        for (const QString& user : {first, second}) {
            QVERIFY(QDir().mkpath(TempDir(user)));
            QCOMPARE(::chmod(QFile::encodeName(TempDir(user)).constData(), 0700), 0);
            GiveTo(Home(user), user);
        }
        const auto add = [&](const QString& modul) {
            const TRun added = Run(first, Userlog(),
                                   {QStringLiteral("add"), modul, QStringLiteral("42"), QStringLiteral("12"),
                                    QStringLiteral("3"), QStringLiteral("2")});
            QVERIFY2(added.exitCode == 0, qPrintable(added.err));
        };
        add(QStringLiteral("Vor dem Angriff"));

        const QString logPath = WriterDataParent + QStringLiteral("/Vorlandt/OnlineUpdater/1.0/VL_Userlog.txt");
        const QString script = attack.arg(Writer(), logPath);
        std::unique_ptr<QProcess> running;
        if (meanwhile) {
            running.reset(Start(second, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}));
            QVERIFY(running->waitForStarted(30000));
            QVERIFY(!running->waitForFinished(3000));
        } else {
            Shell(second, script);
        }
        add(QStringLiteral("Nach dem Angriff"));
        if (running) {
            QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-KILL"), QStringLiteral("-u"), second});
            running->waitForFinished(10000);
            QVERIFY2(!running->readAllStandardOutput().contains("gestoppt"), "her writer could be stopped");
        }

        const QByteArray log = ReadFile(UserLog());
        QVERIFY(log.size() <= qsizetype(userlog::MaxLogBytes));
        QVERIFY2(log.startsWith("=======================\r\nInstallationsdatum: "), log.left(200).constData());
        QVERIFY(log.endsWith("\r\n\r\n\r\n"));
        QVERIFY(log.left(200).contains("Modul: Nach dem Angriff\r\n"));
        QVERIFY(log.contains("Modul: Vor dem Angriff\r\n"));
        QVERIFY2(log.count("Modul: Flut\r\n") >= herEntriesLeast, qPrintable(QString::number(log.count("Modul: Flut"))));
        // Her entries whole: each header followed by all of its text and the entry's end.
        const QByteArray header("Modul: Flut\r\nVersion: 1.0.0\r\n=======================\r\n");
        for (qsizetype at = log.indexOf(header); at >= 0; at = log.indexOf(header, at + 1)) {
            qsizetype end = at + header.size();
            while (end < log.size() && log.at(end) == 'x')
                ++end;
            const qsizetype text = end - at - header.size();
            QVERIFY2((text == 3000 || text == 60000) && log.mid(end, 6) == "\r\n\r\n\r\n",
                     qPrintable(QString::number(text)));
        }
        ExpectSharedLog();
    }

    // ---- two writers and two runs at once -------------------------------------------------------

    void twoInstallersAddingAtOnceLoseNoEntry()
    {
        constexpr int Rounds = 15;
        for (int round = 0; round < Rounds; ++round) {
            QProcess* a = Start(QString(), Userlog(),
                                {QStringLiteral("add"), QStringLiteral("A"), QStringLiteral("42"),
                                 QStringLiteral("12"), QString::number(round), QStringLiteral("0")});
            QProcess* b = Start(QString(), Userlog(),
                                {QStringLiteral("add"), QStringLiteral("B"), QStringLiteral("42"),
                                 QStringLiteral("12"), QString::number(round), QStringLiteral("1")});
            const TRun ra = Finish(a);
            const TRun rb = Finish(b);
            QVERIFY2(ra.exitCode == 0 && rb.exitCode == 0, qPrintable(ra.err + rb.err));
        }
        const QByteArray log = ReadFile(UserLog());
        for (int round = 0; round < Rounds; ++round) {
            QVERIFY2(log.contains(QStringLiteral("Modul: A\r\nVersion: 12.%1.0\r\n").arg(round).toLatin1()),
                     qPrintable(QString::number(round)));
            QVERIFY2(log.contains(QStringLiteral("Modul: B\r\nVersion: 12.%1.1\r\n").arg(round).toLatin1()),
                     qPrintable(QString::number(round)));
        }
    }

    void secondRunIsToldAndDoesNothing()
    {
        qputenv("TMPDIR", QFile::encodeName(TempDir(QString())));
        const platform::TFileLock active = platform::TFileLock::TryLockFile(
            platform::PrivateTempFolder() + QStringLiteral("VL_UpdateRun.lock"));
        QVERIFY(active.Held());
        const QString job = TempDir(QString()) + QStringLiteral("VL_Update_Jobfile.vuj");
        QVERIFY(WriteFile(job, "6;der laufende Auftrag\r\n"));

        const TRun run = Run(QString(), UpdateCheck(), {QStringLiteral("--accept")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains(QStringLiteral("Es läuft bereits eine Suche nach Updates.")),
                 qPrintable(run.out + run.err));
        // The active run's job file is untouched and nothing was installed.
        QCOMPARE(ReadFile(job), QByteArray("6;der laufende Auftrag\r\n"));
        QVERIFY(ReadFile(SiteInfo(42)).contains("unterversion=1"));
    }
};

QTEST_GUILESS_MAIN(TestLocalUsers)
#include "tst_localUsers.moc"
