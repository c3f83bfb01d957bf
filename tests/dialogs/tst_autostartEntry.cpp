// The XDG autostart entry: its place, the exact Exec line for awkward paths, validity for
// desktop-file-validate, writing and removing, and clear errors where the file cannot be handled.
#include "core/platform/AutostartEntry.h"
#include "core/platform/VorlandtError.h"
#include "support/ErrorOf.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace platform;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

// Sets an environment variable for one scope; an empty optional unsets it.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::optional<QString>& value) : FName(name)
    {
        if (qEnvironmentVariableIsSet(name))
            FPrevious = qgetenv(name);
        if (value)
            qputenv(name, QFile::encodeName(*value));
        else
            qunsetenv(name);
    }
    ~TScopedEnv()
    {
        if (FPrevious)
            qputenv(FName, *FPrevious);
        else
            qunsetenv(FName);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* FName;
    std::optional<QByteArray> FPrevious;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

}  // namespace

class TestAutostartEntry : public QObject {
    Q_OBJECT

private:
    std::optional<QTemporaryDir> FDir;
    std::optional<TScopedEnv> FConfig;

    QString EntryFile() const
    {
        return FDir->filePath(QStringLiteral("config/autostart/VorlandtUpdate.desktop"));
    }

private slots:
    void init()
    {
        FDir.emplace();
        QVERIFY(FDir->isValid());
        FConfig.emplace("XDG_CONFIG_HOME", FDir->filePath(QStringLiteral("config")));
    }

    void cleanup()
    {
        FConfig.reset();
        FDir.reset();
    }

    void wholeEntryForPlainPath()
    {
        QCOMPARE(AutostartEntryContent(QStringLiteral("/opt/vorlandt/VorlandtOnlineUpdater")),
                 QByteArray("[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Vorlandt Online-Updater\n"
                            "Exec=\"/opt/vorlandt/VorlandtOnlineUpdater\" -a\n"
                            "X-GNOME-Autostart-enabled=true\n"));
    }

    void execLineQuotesThePath_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("plain") << "/opt/v/VorlandtOnlineUpdater"
                               << QByteArray("\"/opt/v/VorlandtOnlineUpdater\" -a");
        QTest::newRow("blank") << "/home/anna/Meine Programme/vou"
                               << QByteArray("\"/home/anna/Meine Programme/vou\" -a");
        QTest::newRow("umlaut") << "/home/jörg/vou" << QByteArray("\"/home/j\xc3\xb6rg/vou\" -a");
        QTest::newRow("double quote") << "/opt/a\"b/vou" << QByteArray("\"/opt/a\\\\\"b/vou\" -a");
        QTest::newRow("backtick") << "/opt/a`b/vou" << QByteArray("\"/opt/a\\\\`b/vou\" -a");
        QTest::newRow("dollar") << "/opt/$HOME/vou" << QByteArray("\"/opt/\\\\$HOME/vou\" -a");
        QTest::newRow("backslash") << "/opt/a\\b/vou" << QByteArray("\"/opt/a\\\\\\\\b/vou\" -a");
        QTest::newRow("percent") << "/opt/100%u/vou" << QByteArray("\"/opt/100%%u/vou\" -a");
        QTest::newRow("single quote and semicolon")
            << "/opt/it's;here/vou" << QByteArray("\"/opt/it's;here/vou\" -a");
    }

    void execLineQuotesThePath()
    {
        QFETCH(QString, executable);
        QFETCH(QByteArray, exec);
        WriteAutostartEntry(executable);
        const QList<QByteArray> lines = ReadAll(EntryFile()).split('\n');
        QVERIFY(lines.contains("Exec=" + exec));
    }

    void writtenEntryPassesDesktopFileValidate_data() { execLineQuotesThePath_data(); }

    void writtenEntryPassesDesktopFileValidate()
    {
        QFETCH(QString, executable);
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
        WriteAutostartEntry(executable);
        QProcess validate;
        validate.start(validator, {EntryFile()});
        QVERIFY(validate.waitForFinished(60000));
        const QByteArray said = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(validate.exitCode() == 0 && said.isEmpty(), said.constData());
    }

    void controlCharactersAreRefused_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::newRow("line feed") << "/opt/a\nb/vou";
        QTest::newRow("tab") << "/opt/a\tb/vou";
        QTest::newRow("delete") << QStringLiteral(
            "/opt/a\x7f"
            "b/vou");
    }

    void controlCharactersAreRefused()
    {
        QFETCH(QString, executable);
        QVERIFY(ErrorOf([&] { WriteAutostartEntry(executable); }).contains(QStringLiteral("Steuerzeichen")));
        QVERIFY(!QFile::exists(EntryFile()));
    }

    void placeFollowsXdgConfigHome_data()
    {
        QTest::addColumn<std::optional<QString>>("config");
        QTest::addColumn<QString>("expected");  // relative to the temporary folder
        QTest::newRow("set") << std::optional<QString>(QStringLiteral("%1/cfg"))
                             << "cfg/autostart/VorlandtUpdate.desktop";
        QTest::newRow("unset") << std::optional<QString>() << "home/.config/autostart/VorlandtUpdate.desktop";
        QTest::newRow("relative is ignored") << std::optional<QString>(QStringLiteral("cfg"))
                                             << "home/.config/autostart/VorlandtUpdate.desktop";
    }

    void placeFollowsXdgConfigHome()
    {
        QFETCH(std::optional<QString>, config);
        QFETCH(QString, expected);
        const TScopedEnv home("HOME", FDir->filePath(QStringLiteral("home")));
        const TScopedEnv xdg("XDG_CONFIG_HOME", config ? std::optional<QString>(QString(*config).replace(
                                                             QStringLiteral("%1"), FDir->path()))
                                                       : config);
        QCOMPARE(AutostartEntryPath(), FDir->filePath(expected));
    }

    void writtenThenRemoved()
    {
        QVERIFY(!AutostartEntryExists());
        // Removing what is not there is no error.
        RemoveAutostartEntry();
        WriteAutostartEntry(QStringLiteral("/opt/v/vou"));
        QVERIFY(AutostartEntryExists());
        QVERIFY(QFile::exists(EntryFile()));
        RemoveAutostartEntry();
        QVERIFY(!AutostartEntryExists());
        QVERIFY(!QFile::exists(EntryFile()));
    }

    void rewritingReplacesTheOldEntry()
    {
        WriteAutostartEntry(QStringLiteral("/old/place/vou"));
        WriteAutostartEntry(QStringLiteral("/new/place/vou"));
        const QByteArray content = ReadAll(EntryFile());
        QVERIFY(content.contains("Exec=\"/new/place/vou\" -a\n"));
        QVERIFY(!content.contains("/old/place/"));
        // No temporary file is left beside it.
        QCOMPARE(
            QDir(FDir->filePath(QStringLiteral("config/autostart"))).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("VorlandtUpdate.desktop")});
    }

    void danglingLinkCountsAndIsRemoved()
    {
        QVERIFY(QDir().mkpath(FDir->filePath(QStringLiteral("config/autostart"))));
        QVERIFY(QFile::link(FDir->filePath(QStringLiteral("gone.desktop")), EntryFile()));
        QVERIFY(AutostartEntryExists());
        RemoveAutostartEntry();
        QVERIFY(!AutostartEntryExists());
    }

    void unusableFolderGivesClearError()
    {
        // A file where the autostart folder belongs.
        QVERIFY(QDir().mkpath(FDir->filePath(QStringLiteral("config"))));
        QFile blocker(FDir->filePath(QStringLiteral("config/autostart")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(ErrorOf([] { WriteAutostartEntry(QStringLiteral("/opt/v/vou")); }),
                 QStringLiteral("Der Ordner \"%1\" für den Autostart-Eintrag kann nicht angelegt werden.")
                     .arg(FDir->filePath(QStringLiteral("config/autostart"))));
    }

    void entryThatCannotBeRemovedIsNamed()
    {
        // A folder in the entry's place, with something inside, cannot be removed as a file.
        QVERIFY(QDir().mkpath(EntryFile() + QStringLiteral("/inside")));
        const QString error = ErrorOf([] { RemoveAutostartEntry(); });
        QVERIFY2(
            error.startsWith(
                QStringLiteral("Der Autostart-Eintrag \"%1\" kann nicht gelöscht werden").arg(EntryFile())),
            qPrintable(error));
        const QString writeError = ErrorOf([] { WriteAutostartEntry(QStringLiteral("/opt/v/vou")); });
        QVERIFY2(writeError.contains(EntryFile()), qPrintable(writeError));
    }
};

QTEST_GUILESS_MAIN(TestAutostartEntry)
#include "tst_autostartEntry.moc"
