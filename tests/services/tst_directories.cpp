// The temporary and data directories, the start-up probe of the data directory and the lookup of
// a module's install folder.
#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace {

void SetEnv(const char* name, const QString& value)
{
    qputenv(name, QFile::encodeName(value));
}

QStringList TempDirLines(const QString& result)
{
    return {QStringLiteral("GetTempDir - Start"), QStringLiteral("GetTempDir - Ende - Result: ") + result};
}

}  // namespace

class TestDirectories : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TPrivateStores> FStores;
    QByteArray FTmpdir;
    bool FHadTmpdir = false;

    QString Path(const QString& name) const { return FStores->FilePath(name); }
    QString TempDir() const { return Path(QStringLiteral("tmp")) + u'/'; }

    void WriteFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write fixture %s", qPrintable(path));
    }

private Q_SLOTS:
    void initTestCase()
    {
        FHadTmpdir = qEnvironmentVariableIsSet("TMPDIR");
        FTmpdir = qgetenv("TMPDIR");
    }

    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
        QVERIFY(QDir().mkpath(TempDir()));
        SetEnv("TMPDIR", TempDir());
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup()
    {
        WriteLog(TLogAction::DiscardBuffer, QString());
        // The next test's folder is made in the temporary folder of the run, not in this one.
        if (FHadTmpdir)
            qputenv("TMPDIR", FTmpdir);
        else
            qunsetenv("TMPDIR");
        // Read-only fixtures must not outlive the run.
        QFile::setPermissions(Path(QStringLiteral("readonly")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FStores.reset();
    }

    void tempDirFollowsTmpdir_data()
    {
        QTest::addColumn<QString>("tmpdir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("TMPDIR") << "tmp"
                                << "tmp/";
        QTest::newRow("TMPDIR with trailing slash") << "tmp/"
                                                    << "tmp/";
        QTest::newRow("TMPDIR with dot segments") << "tmp/../tmp"
                                                  << "tmp/";
        QTest::newRow("TMPDIR unset: the session's runtime folder") << QString() << QString();
    }

    void tempDirFollowsTmpdir()
    {
        QFETCH(QString, tmpdir);
        QFETCH(QString, expected);
        QString expectedPath;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (tmpdir.isNull()) {
            qunsetenv("TMPDIR");
            QVERIFY(QDir().mkpath(Path(QStringLiteral("run"))));
            SetEnv("XDG_RUNTIME_DIR", Path(QStringLiteral("run")));
            expectedPath = Path(QStringLiteral("run/vorlandt/"));
        } else {
            SetEnv("TMPDIR", Path(tmpdir));
            expectedPath = QDir(Path(expected)).canonicalPath() + u'/';
        }
        const QString result = GetTempDir();
        qputenv("XDG_RUNTIME_DIR", runtime);
        QCOMPARE(result, expectedPath);
        QCOMPARE(LogBuffer(), std::optional(TempDirLines(expectedPath)));
    }

    void tempDirMissingRaisesAndLogsEmptyResult()
    {
        SetEnv("TMPDIR", Path(QStringLiteral("fehlt")));
        QVERIFY_THROWS_EXCEPTION(EVorlandtError, GetTempDir());
        QCOMPARE(LogBuffer(), std::optional(TempDirLines(QString())));
    }

    void dataDirCreatedWithAllParents()
    {
        SetEnv("VORLANDT_PROGRAMDATA", Path(QStringLiteral("var/lib")));
        const QString expected = Path(QStringLiteral("var/lib/Vorlandt/OnlineUpdater/1.0/"));
        QCOMPARE(GetDataDir(), expected);
        QVERIFY(QFileInfo(expected).isDir());
        // The machine folder was usable: nothing is logged, not even a temp dir lookup.
        QCOMPARE(LogBuffer(), std::optional(QStringList()));
    }

    void dataDirEndsWithOneSlash()
    {
        SetEnv("VORLANDT_PROGRAMDATA", Path(QStringLiteral("pd/")));
        QCOMPARE(GetDataDir(), Path(QStringLiteral("pd/Vorlandt/OnlineUpdater/1.0/")));
    }

    void dataDirFallsBackWhenMachineFolderUnusable_data()
    {
        QTest::addColumn<QString>("machineBase");  // "" set but empty; "relative"; "file"; "readonly"
        QTest::addColumn<QString>("pfad");         // null: not registered; "@/" stands for the test folder
        QTest::addColumn<QString>("expected");     // "@/..." or "temp"
        // clang-format off
        QTest::newRow("variable empty, nothing registered") << "" << QString() << "temp";
        QTest::newRow("variable empty, Pfad registered") << "" << "@/suite/daten" << "@/suite/daten/";
        QTest::newRow("relative variable, Pfad registered") << "relative" << "@/suite" << "@/suite/";
        QTest::newRow("file in the way, Pfad registered") << "file" << "@/suite" << "@/suite/";
        QTest::newRow("file in the way, nothing registered") << "file" << QString() << "temp";
        QTest::newRow("read-only folder, Pfad registered") << "readonly" << "@/suite" << "@/suite/";
        QTest::newRow("Pfad with trailing slash") << "" << "@/suite/" << "@/suite/";
        QTest::newRow("Pfad empty") << "" << "" << "temp";
        QTest::newRow("Pfad a Windows folder") << "" << "c:\\Programme\\KRSoftware\\" << "temp";
        QTest::newRow("Pfad relative") << "" << "suite" << "temp";
        // clang-format on
    }

    void dataDirFallsBackWhenMachineFolderUnusable()
    {
        QFETCH(QString, machineBase);
        QFETCH(QString, pfad);
        QFETCH(QString, expected);
        const QString root = FStores->Path();
        if (machineBase == u"relative") {
            SetEnv("VORLANDT_PROGRAMDATA", QStringLiteral("programdata"));
        } else if (machineBase == u"file") {
            WriteFile(Path(QStringLiteral("programdata")), "kein Ordner");
            SetEnv("VORLANDT_PROGRAMDATA", Path(QStringLiteral("programdata")));
        } else if (machineBase == u"readonly") {
            if (geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QVERIFY(QDir().mkdir(Path(QStringLiteral("readonly"))));
            QVERIFY(
                QFile::setPermissions(Path(QStringLiteral("readonly")), QFile::ReadOwner | QFile::ExeOwner));
            SetEnv("VORLANDT_PROGRAMDATA", Path(QStringLiteral("readonly")));
        } else {
            qputenv("VORLANDT_PROGRAMDATA", QByteArray());
        }
        if (!pfad.isNull()) {
            pfad.replace(QStringLiteral("@"), root);
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, pfad);
        }
        expected = expected == u"temp" ? TempDir() : expected.replace(QStringLiteral("@"), root);

        // The current folder is the test folder, so a relative fallback would show up in it.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root));
        const QString result = GetDataDir();
        QDir::setCurrent(previous);

        QCOMPARE(result, expected);
        QVERIFY(QFileInfo(result).isDir());
        QVERIFY(!QFileInfo::exists(Path(QStringLiteral("programdata/Vorlandt"))));
        QVERIFY(!QFileInfo::exists(Path(QStringLiteral("c:\\Programme\\KRSoftware\\"))));
        QCOMPARE(LogBuffer(), std::optional(TempDirLines(TempDir())));
    }

    void testMarkerLeavesFolderWithoutMarker_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("fresh machine") << "nothing";
        QTest::newRow("stale marker") << "marker";
        QTest::newRow("marker is a link to another file") << "link";
        QTest::newRow("folder under the marker's name") << "folder";
    }

    void testMarkerLeavesFolderWithoutMarker()
    {
        QFETCH(QString, before);
        const QString dataDir = Path(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0/"));
        const QString marker = dataDir + QStringLiteral("vltest.ini");
        const QString victim = Path(QStringLiteral("fremde-datei.txt"));
        WriteFile(victim, "bleibt");
        if (before != u"nothing")
            QVERIFY(QDir().mkpath(dataDir));
        if (before == u"marker")
            WriteFile(marker, "alt");
        else if (before == u"link")
            QVERIFY(QFile::link(victim, marker));
        else if (before == u"folder")
            QVERIFY(QDir().mkpath(marker + QStringLiteral("/inhalt")));

        CheckTestMarker();

        QVERIFY(QFileInfo(dataDir).isDir());
        if (before == u"folder") {
            QVERIFY(QFileInfo(marker + QStringLiteral("/inhalt")).isDir());
        } else {
            QVERIFY(!QFileInfo(marker).exists());
            QVERIFY(!QFileInfo(marker).isSymLink());
        }
        QFile victimFile(victim);
        QVERIFY(victimFile.open(QIODevice::ReadOnly));
        QCOMPARE(victimFile.readAll(), QByteArray("bleibt"));
    }

    void modulPfadAsRegistered_data()
    {
        QTest::addColumn<QString>("registeredModule");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("suite folder, no slash added") << "STD_EINSTELLUNGEN" << "/opt/vorlandt" << "STD_EINSTELLUNGEN" << "/opt/vorlandt";
        QTest::newRow("trailing slash kept") << "Fibu" << "/opt/fibu/" << "Fibu" << "/opt/fibu/";
        QTest::newRow("module name folds case") << "Fibu" << "/opt/fibu" << "FIBU" << "/opt/fibu";
        QTest::newRow("module not registered") << "Fibu" << "/opt/fibu" << "Lohn" << "";
        // clang-format on
    }

    void modulPfadAsRegistered()
    {
        QFETCH(QString, registeredModule);
        QFETCH(QString, value);
        QFETCH(QString, asked);
        QFETCH(QString, expected);
        // Installers write "...\Module\<name>"; the lookup asks for "...\module\<name>".
        WriteStringValue(HKEY_LOCAL_MACHINE,
                         QStringLiteral("Software\\KRSoftware\\Module\\") + registeredModule,
                         SettingsKeys::Pfad, value);
        QCOMPARE(GetModulPfad(asked), expected);
        QCOMPARE(LogBuffer(), std::optional(QStringList()));
    }
};

QTEST_GUILESS_MAIN(TestDirectories)
#include "tst_directories.moc"
