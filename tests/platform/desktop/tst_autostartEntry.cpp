// The XDG autostart entry: its place, the exact Exec line for awkward paths, validity for
// desktop-file-validate, writing and removing, and clear errors where the file cannot be handled;
// the user's own entry over the system's, and switching the start for one user.
#include "core/platform/desktop/AutostartEntry.h"
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
    std::optional<TScopedEnv> FConfigDirs;

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
        // Never the machine's own /etc/xdg: a package installed there must not change the tests.
        FConfigDirs.emplace("XDG_CONFIG_DIRS", FDir->filePath(QStringLiteral("system")));
    }

    void cleanup()
    {
        FConfigDirs.reset();
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

    // ---- the user's own entry over the system's --------------------------------------------

    // An entry of the kind a row names: "" none, "on" a plain one, "hidden" with Hidden=true,
    // "gnome-off" as GNOME's start-up tool switches one off, "dangling" a link to nothing.
    bool PlaceEntry(const QString& path, const QString& kind) const
    {
        if (kind.isEmpty())
            return true;
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return false;
        if (kind == u"dangling")
            return QFile::link(FDir->filePath(QStringLiteral("gone.desktop")), path);
        QByteArray content = AutostartEntryContent(QStringLiteral("/usr/bin/VorlandtOnlineUpdater"));
        if (kind == u"hidden")
            content = HiddenAutostartEntryContent(QStringLiteral("/usr/bin/VorlandtOnlineUpdater"));
        else if (kind == u"gnome-off")
            content.replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled = false");
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    QString SystemEntry(const QString& dir = QStringLiteral("system")) const
    {
        return FDir->filePath(dir + QStringLiteral("/autostart/VorlandtUpdate.desktop"));
    }

    // What an entry says, as far as the start at log-on goes: "" none, "on" or "hidden".
    static QString EntryKind(const QString& path)
    {
        if (!QFileInfo::exists(path))
            return QString();
        return ReadAll(path).contains("\nHidden=true\n") ? QStringLiteral("hidden") : QStringLiteral("on");
    }

    void stateFollowsTheXdgRules_data()
    {
        QTest::addColumn<QString>("own");
        QTest::addColumn<QString>("system");
        QTest::addColumn<int>("state");
        using S = TAutostartState;
        // clang-format off
        QTest::newRow("nothing")                  << ""          << ""       << int(S::None);
        QTest::newRow("own only")                 << "on"        << ""       << int(S::Own);
        QTest::newRow("own hidden, no system")    << "hidden"    << ""       << int(S::OwnHidden);
        QTest::newRow("system only")              << ""          << "on"     << int(S::System);
        QTest::newRow("system switched off")      << ""          << "hidden" << int(S::SystemHidden);
        QTest::newRow("own hides the system's")   << "hidden"    << "on"     << int(S::OwnHidden);
        QTest::newRow("own switched off by GNOME") << "gnome-off" << "on"    << int(S::OwnHidden);
        QTest::newRow("own wins over hidden system") << "on"     << "hidden" << int(S::Own);
        QTest::newRow("dangling own link counts") << "dangling"  << "on"     << int(S::Own);
        // clang-format on
    }

    void stateFollowsTheXdgRules()
    {
        QFETCH(QString, own);
        QFETCH(QString, system);
        QFETCH(int, state);
        QVERIFY(PlaceEntry(EntryFile(), own));
        QVERIFY(PlaceEntry(SystemEntry(), system));
        QCOMPARE(int(AutostartState()), state);
        QCOMPARE(SystemAutostartEntryPath(), system.isEmpty() ? QString() : SystemEntry());
    }

    // The first folder of XDG_CONFIG_DIRS that holds an entry decides; relative folders do not
    // count.
    void systemEntryFromTheFirstConfigDirHoldingOne()
    {
        const TScopedEnv dirs("XDG_CONFIG_DIRS", QStringLiteral("relative:%1:%2:%3")
                                                     .arg(FDir->filePath(QStringLiteral("empty")),
                                                          FDir->filePath(QStringLiteral("first")),
                                                          FDir->filePath(QStringLiteral("second"))));
        QVERIFY(PlaceEntry(SystemEntry(QStringLiteral("second")), QStringLiteral("on")));
        QCOMPARE(SystemAutostartEntryPath(), SystemEntry(QStringLiteral("second")));
        QCOMPARE(AutostartState(), TAutostartState::System);
        QVERIFY(PlaceEntry(SystemEntry(QStringLiteral("first")), QStringLiteral("hidden")));
        QCOMPARE(SystemAutostartEntryPath(), SystemEntry(QStringLiteral("first")));
        QCOMPARE(AutostartState(), TAutostartState::SystemHidden);
    }

    void switchingLeavesTheFewestOwnFiles_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("ownBefore");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("ownAfter");
        // clang-format off
        QTest::newRow("no system: on writes own")          << ""       << ""       << true  << "on";
        QTest::newRow("no system: on replaces hidden")     << ""       << "hidden" << true  << "on";
        QTest::newRow("no system: off removes own")        << ""       << "on"     << false << "";
        QTest::newRow("no system: off, nothing there")     << ""       << ""       << false << "";
        QTest::newRow("system: off hides it for me")       << "on"     << ""       << false << "hidden";
        QTest::newRow("system: off replaces own entry")    << "on"     << "on"     << false << "hidden";
        QTest::newRow("system: on removes own hidden")     << "on"     << "hidden" << true  << "";
        QTest::newRow("system: on, nothing of mine")       << "on"     << ""       << true  << "";
        QTest::newRow("hidden system: on writes own")      << "hidden" << ""       << true  << "on";
        QTest::newRow("hidden system: off removes own")    << "hidden" << "on"     << false << "";
        // clang-format on
    }

    void switchingLeavesTheFewestOwnFiles()
    {
        QFETCH(QString, system);
        QFETCH(QString, ownBefore);
        QFETCH(bool, on);
        QFETCH(QString, ownAfter);
        QVERIFY(PlaceEntry(SystemEntry(), system));
        QVERIFY(PlaceEntry(EntryFile(), ownBefore));
        const QByteArray systemContent = ReadAll(SystemEntry());

        SetAutostart(on, QStringLiteral("/opt/v/vou"));

        QCOMPARE(EntryKind(EntryFile()), ownAfter);
        QCOMPARE(AutostartEnabled(AutostartState()), on);
        // The system's entry is the administrator's: never touched.
        QCOMPARE(ReadAll(SystemEntry()), systemContent);
    }

    void hiddenEntryPassesDesktopFileValidate()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
        QVERIFY(PlaceEntry(SystemEntry(), QStringLiteral("on")));
        SetAutostart(false, QStringLiteral("/opt/v/vou"));
        QProcess validate;
        validate.start(validator, {EntryFile()});
        QVERIFY(validate.waitForFinished(60000));
        const QByteArray said = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(validate.exitCode() == 0 && said.isEmpty(), said.constData());
    }
};

QTEST_GUILESS_MAIN(TestAutostartEntry)
#include "tst_autostartEntry.moc"
