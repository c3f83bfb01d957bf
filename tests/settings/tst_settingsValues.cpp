// The settings dialog's values against a real store: the interval in days, the first showing,
// the port field, the local-source moves, the scrambled password, the autostart box, the module
// list with and without administrator rights, a refused module write, help and log texts; the
// package's autostart entry and fields an administrator's policy locks.
#include "support/EinstellungenWorld.h"
#include "support/ErrorOf.h"

#include "core/settings/SettingsValues.h"
#include "core/platform/desktop/AutostartEntry.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "support/ScriptedFrontEnd.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QVariant>

#include <memory>

namespace K = SettingsKeys;

namespace {

const QString kExecutable = QStringLiteral("/opt/vorlandt/VorlandtOnlineUpdater");

// A stored value as a QVariant: null when absent, an int or a string otherwise.
void Store(const QString& key, const QString& name, const QVariant& value)
{
    if (value.isNull())
        return;
    if (value.typeId() == QMetaType::QString)
        WriteStringValue(HKEY_CURRENT_USER, key, name, value.toString());
    else
        WriteIntegerValue(HKEY_CURRENT_USER, key, name, value.toInt());
}

QVariant StoredString(const QString& key, const QString& name)
{
    if (!ValueExists(HKEY_CURRENT_USER, key, name))
        return QVariant();
    return ReadStringValue(HKEY_CURRENT_USER, key, name, QStringLiteral("<no string>"));
}

QVariant StoredInteger(const QString& key, const QString& name)
{
    if (!ValueExists(HKEY_CURRENT_USER, key, name))
        return QVariant();
    return ReadIntegerValue(HKEY_CURRENT_USER, key, name, -99999);
}

}  // namespace

class TestSettingsValues : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TSettingsWorld> FWorld;

private slots:
    void init()
    {
        FWorld = std::make_unique<TSettingsWorld>();
        QVERIFY(FWorld->IsValid());
    }

    void cleanup() { FWorld.reset(); }

    void intervalShownAsDaysAndSavedAsWholeDays_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("shownDays");
        QTest::addColumn<int>("savedHours");
        QTest::newRow("48 hours") << QVariant(48) << 2 << 48;
        QTest::newRow("100 hours: remainder dropped") << QVariant(100) << 4 << 96;
        QTest::newRow("24 hours: below the least") << QVariant(24) << 2 << 48;
        QTest::newRow("1000 hours: above the most") << QVariant(1000) << 28 << 672;
        QTest::newRow("missing: default 48") << QVariant() << 2 << 48;
        QTest::newRow("negative") << QVariant(-240) << 2 << 48;
        QTest::newRow("largest number") << QVariant(2147483647) << 28 << 672;
        QTest::newRow("text holding 72") << QVariant(QStringLiteral("72")) << 3 << 72;
    }

    void intervalShownAsDaysAndSavedAsWholeDays()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, shownDays);
        QFETCH(int, savedHours);
        Store(K::OnlineUpdate, K::IntervalInHours, stored);

        const TSettingsValues values = ReadSettingsValues();
        QCOMPARE(values.Days, shownDays);
        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::IntervalInHours), QVariant(savedHours));
    }

    void firstShowingOnEmptyStoreWritesEveryDefault()
    {
        const TSettingsValues values = ReadSettingsValues();
        QVERIFY(values.Enabled);
        QVERIFY(values.News);
        QVERIFY(!values.LocalSource);
        QCOMPARE(values.LocalSourceText, QString());
        QVERIFY(!values.Log);
        QVERIFY(!values.ProxyEnabled);
        QCOMPARE(values.ProxyServer, QStringLiteral("localhost"));
        QCOMPARE(values.ProxyPort, QStringLiteral("80"));
        QCOMPARE(values.ProxyUsername, QString());
        QCOMPARE(values.ProxyPassword, QString());
        QCOMPARE(values.UserAgent, QStringLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)"));

        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::Disable), QVariant(0));
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::IntervalInHours), QVariant(48));
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::NewsAktiv), QVariant(1));
        QCOMPARE(StoredString(K::OnlineUpdate, K::LocalSource), QVariant());
        QCOMPARE(StoredString(K::OnlineUpdate, K::LastLocalSource), QVariant());
        QCOMPARE(StoredInteger(K::Log, K::LogAktiv), QVariant(0));
        QCOMPARE(StoredInteger(K::Proxy, K::ProxyAktiv), QVariant(0));
        QCOMPARE(StoredString(K::Proxy, K::ProxyServer), QVariant(QStringLiteral("localhost")));
        QCOMPARE(StoredInteger(K::Proxy, K::ProxyPort), QVariant(80));
        QCOMPARE(StoredString(K::Proxy, K::ProxyUsername), QVariant(QString()));
        QCOMPARE(StoredString(K::Proxy, K::ProxyPassword), QVariant(QString()));
        QCOMPARE(StoredString(K::Proxy, K::UserAgent),
                 QVariant(QStringLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)")));
        QVERIFY(QFile::exists(FWorld->AutostartFile()));
    }

    void proxyPortFieldSavedAsNumber_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("stored");
        QTest::newRow("80a is no number") << "80a" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("8080") << "8080" << 8080;
        QTest::newRow("leading blanks") << "  3128" << 3128;
        QTest::newRow("hexadecimal") << "$1F90" << 8080;
        QTest::newRow("beyond 32 bits") << "99999999999" << 0;
    }

    void proxyPortFieldSavedAsNumber()
    {
        QFETCH(QString, field);
        QFETCH(int, stored);
        TSettingsValues values = ReadSettingsValues();
        values.ProxyPort = field;
        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(StoredInteger(K::Proxy, K::ProxyPort), QVariant(stored));
    }

    void localSourceShown_data()
    {
        QTest::addColumn<QVariant>("local");
        QTest::addColumn<QVariant>("last");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("field");
        QTest::newRow("none") << QVariant() << QVariant() << false << "";
        QTest::newRow("last offered, box cleared")
            << QVariant() << QVariant("/srv/alt/") << false << "/srv/alt/";
        QTest::newRow("local wins over last")
            << QVariant("/srv/neu/") << QVariant("/srv/alt/") << true << "/srv/neu/";
        QTest::newRow("empty local: ticked, empty field")
            << QVariant("") << QVariant("/srv/alt/") << true << "";
    }

    void localSourceShown()
    {
        QFETCH(QVariant, local);
        QFETCH(QVariant, last);
        QFETCH(bool, ticked);
        QFETCH(QString, field);
        Store(K::OnlineUpdate, K::LocalSource, local);
        Store(K::OnlineUpdate, K::LastLocalSource, last);
        const TSettingsValues values = ReadSettingsValues();
        QCOMPARE(values.LocalSource, ticked);
        QCOMPARE(values.LocalSourceText, field);
    }

    void localSourceSaved_data()
    {
        QTest::addColumn<QVariant>("local");
        QTest::addColumn<QVariant>("last");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("savedLocal");
        QTest::addColumn<QVariant>("savedLast");
        QTest::newRow("ticked: separator appended")
            << QVariant() << QVariant() << true << "/srv/updates" << QVariant("/srv/updates/") << QVariant();
        QTest::newRow("ticked: separator kept")
            << QVariant() << QVariant() << true << "/srv/updates/" << QVariant("/srv/updates/") << QVariant();
        // An empty field must not turn the root folder into the update source.
        QTest::newRow("ticked with empty field: download server")
            << QVariant() << QVariant() << true << "" << QVariant("") << QVariant();
        QTest::newRow("cleared: moved to last") << QVariant("/srv/a/") << QVariant("/srv/old/") << false
                                                << "/srv/a/" << QVariant() << QVariant("/srv/a/");
        QTest::newRow("cleared: the stored text moves, not the field's")
            << QVariant("/srv/a/") << QVariant() << false << "/elsewhere" << QVariant()
            << QVariant("/srv/a/");
        QTest::newRow("cleared without local: last untouched")
            << QVariant() << QVariant("/srv/old/") << false << "/srv/old/" << QVariant()
            << QVariant("/srv/old/");
    }

    void localSourceSaved()
    {
        QFETCH(QVariant, local);
        QFETCH(QVariant, last);
        QFETCH(bool, ticked);
        QFETCH(QString, field);
        QFETCH(QVariant, savedLocal);
        QFETCH(QVariant, savedLast);
        Store(K::OnlineUpdate, K::LocalSource, local);
        Store(K::OnlineUpdate, K::LastLocalSource, last);
        TSettingsValues values = ReadSettingsValues();
        values.LocalSource = ticked;
        values.LocalSourceText = field;
        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(StoredString(K::OnlineUpdate, K::LocalSource), savedLocal);
        QCOMPARE(StoredString(K::OnlineUpdate, K::LastLocalSource), savedLast);
    }

    void clearedLocalSourceOfferedAgainAtNextShowing()
    {
        Store(K::OnlineUpdate, K::LocalSource, QStringLiteral("/srv/updates/"));
        TSettingsValues values = ReadSettingsValues();
        values.LocalSource = false;
        WriteSettingsValues(values, false, kExecutable);

        const TSettingsValues next = ReadSettingsValues();
        QVERIFY(!next.LocalSource);
        QCOMPARE(next.LocalSourceText, QStringLiteral("/srv/updates/"));
    }

    void passwordStoredOnlyScrambled_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("letters") << "Geheim";
        QTest::newRow("umlaut, blank and tab") << "Grüße an\talle";
    }

    void passwordStoredOnlyScrambled()
    {
        QFETCH(QString, password);
        TSettingsValues values = ReadSettingsValues();
        values.ProxyPassword = password;
        WriteSettingsValues(values, false, kExecutable);

        const QString stored = StoredString(K::Proxy, K::ProxyPassword).toString();
        QCOMPARE(stored, ScramblePassword(password, K::PasswordScrambleKey));
        QVERIFY(stored != password);
        // Nor anywhere in the file, in either encoding a store might use.
        QFile file(FWorld->UserStoreFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains(password.toUtf8()));
        QVERIFY(!bytes.contains(
            QByteArray(reinterpret_cast<const char*>(password.utf16()), password.size() * 2)));
        QCOMPARE(ReadSettingsValues().ProxyPassword, password);
    }

    void autostartBoxShownFromDisable_data()
    {
        QTest::addColumn<QVariant>("disable");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("missing") << QVariant() << true;
        QTest::newRow("0") << QVariant(0) << true;
        QTest::newRow("1") << QVariant(1) << false;
        QTest::newRow("2 counts as off here") << QVariant(2) << false;
    }

    void autostartBoxShownFromDisable()
    {
        QFETCH(QVariant, disable);
        QFETCH(bool, ticked);
        Store(K::OnlineUpdate, K::Disable, disable);
        // The entry itself is not consulted when loading.
        platform::WriteAutostartEntry(kExecutable);
        QCOMPARE(ReadSettingsValues().Enabled, ticked);
    }

    void autostartBoxSavesDisableAndEntry_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("entryBefore");
        QTest::addColumn<int>("disable");
        QTest::newRow("ticked, no entry yet") << true << false << 0;
        QTest::newRow("ticked, entry rewritten") << true << true << 0;
        QTest::newRow("cleared, entry removed") << false << true << 1;
        QTest::newRow("cleared, no entry") << false << false << 1;
    }

    void autostartBoxSavesDisableAndEntry()
    {
        QFETCH(bool, ticked);
        QFETCH(bool, entryBefore);
        QFETCH(int, disable);
        if (entryBefore)
            platform::WriteAutostartEntry(QStringLiteral("/old/place/VorlandtOnlineUpdater"));
        TSettingsValues values = ReadSettingsValues();
        values.Enabled = ticked;
        WriteSettingsValues(values, false, kExecutable);

        QCOMPARE(StoredInteger(K::OnlineUpdate, K::Disable), QVariant(disable));
        QCOMPARE(QFile::exists(FWorld->AutostartFile()), ticked);
        if (ticked) {
            QFile entry(FWorld->AutostartFile());
            QVERIFY(entry.open(QIODevice::ReadOnly));
            QVERIFY(entry.readAll().contains("\nExec=\"/opt/vorlandt/VorlandtOnlineUpdater\" -a\n"));
        }
    }

    void moduleListTickedUnlessDisabled()
    {
        TSettingsWorld::AddModule(QStringLiteral("Kasse"), 1);
        TSettingsWorld::AddModule(QStringLiteral("Lager"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lohn"), 0);
        TSettingsWorld::AddModule(QStringLiteral("Zeit"), 2);
        const QList<TModuleEntry> expected = {{QStringLiteral("Kasse"), false},
                                              {QStringLiteral("Lager"), true},
                                              {QStringLiteral("Lohn"), true},
                                              {QStringLiteral("Zeit"), false}};
        QCOMPARE(ReadModuleEntries(), expected);
    }

    void moduleListWithoutRegistrationKeyRaisesReadMessage()
    {
        QCOMPARE(ErrorOf([] { ReadModuleEntries(); }),
                 QStringLiteral("Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\"
                                "OnlineUpdateModule\\\" for read"));
    }

    void moduleValuesWrittenOnlyWithAdminRights_data()
    {
        QTest::addColumn<bool>("admin");
        QTest::newRow("administrator") << true;
        QTest::newRow("no administrator") << false;
    }

    void moduleValuesWrittenOnlyWithAdminRights()
    {
        QFETCH(bool, admin);
        TSettingsWorld::AddModule(QStringLiteral("Kasse"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lager"), 1);
        TSettingsValues values = ReadSettingsValues();
        values.Modules = {{QStringLiteral("Kasse"), false}, {QStringLiteral("Lager"), true}};
        WriteSettingsValues(values, admin, kExecutable);

        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Kasse")),
                 admin ? std::optional<qint32>(1) : std::nullopt);
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Lager")),
                 std::optional<qint32>(admin ? 0 : 1));
        // The per-user values after the module loop are saved either way.
        QCOMPARE(StoredInteger(K::Proxy, K::ProxyPort), QVariant(80));
    }

    void refusedModuleWriteStopsSavingAndKeepsWhatWasWritten()
    {
        TSettingsWorld::AddModule(QStringLiteral("Kasse"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lager"), std::nullopt);
        TSettingsWorld::AddModule(QStringLiteral("Lohn"), std::nullopt);
        QVERIFY(FWorld->RefuseModuleWrites(QStringLiteral("Lager")));

        TSettingsValues values = ReadSettingsValues();
        values.Days = 5;
        values.ProxyEnabled = true;
        values.Modules = {{QStringLiteral("Kasse"), false},
                        {QStringLiteral("Lager"), false},
                        {QStringLiteral("Lohn"), false}};
        QCOMPARE(ErrorOf([&] { WriteSettingsValues(values, true, kExecutable); }),
                 QStringLiteral("Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\"
                                "OnlineUpdateModule\\Lager\" for write"));

        // Before the refused registration: written.
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::Disable), QVariant(0));
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::IntervalInHours), QVariant(120));
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::NewsAktiv), QVariant(1));
        QVERIFY(QFile::exists(FWorld->AutostartFile()));
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Kasse")), std::optional<qint32>(1));
        // From the refused one on: not written.
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Lager")), std::nullopt);
        QCOMPARE(TSettingsWorld::ModuleDisabled(QStringLiteral("Lohn")), std::nullopt);
        QCOMPARE(StoredInteger(K::Log, K::LogAktiv), QVariant());
        QCOMPARE(StoredInteger(K::Proxy, K::ProxyAktiv), QVariant());
        QCOMPARE(StoredString(K::Proxy, K::UserAgent), QVariant());
    }

    void helpFileOpenedBesideProgram_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("desktopOpens");
        QTest::addColumn<QString>("message");  // %1: the help file's path
        QTest::newRow("present") << true << true << "";
        QTest::newRow("missing") << false << true << "Die Hilfedatei \"%1\" wurde nicht gefunden.";
        QTest::newRow("desktop refuses")
            << true << false << "Die Hilfedatei \"%1\" konnte nicht geöffnet werden.";
    }

    void helpFileOpenedBesideProgram()
    {
        QFETCH(bool, present);
        QFETCH(bool, desktopOpens);
        QFETCH(QString, message);
        const QString folder = FWorld->Path(QStringLiteral("program"));
        const QString helpFile = folder + QStringLiteral("/vorlandt-online-updater.chm");
        QVERIFY(QDir().mkpath(folder));
        if (present) {
            QFile file(helpFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        WriteBoolValue(HKEY_CURRENT_USER, K::Log, K::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());

        TScriptedFrontEnd frontEnd;
        frontEnd.SetOpenDocumentResult(desktopOpens);
        if (!message.isEmpty())
            frontEnd.Answer({mrOk});
        const TScopedFrontEnd scope(frontEnd);
        OpenHelpTopic(helpFile, SettingsHelpContext);

        QCOMPARE(frontEnd.OpenedDocuments(), present ? QStringList{helpFile} : QStringList());
        if (message.isEmpty()) {
            QVERIFY(frontEnd.Messages().isEmpty());
        } else {
            const QList<TShownMessage> expected = {
                {message.arg(helpFile), TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0}};
            QCOMPARE(frontEnd.Messages(), expected);
            QCOMPARE(frontEnd.PendingAnswers(), 0);
        }
        const std::optional<QStringList> log = LogBuffer();
        QVERIFY(log);
        QVERIFY2(log->join(u'\n').contains(QStringLiteral("10003")), qPrintable(log->join(u'\n')));
        WriteLog(TLogAction::DiscardBuffer, QString());
    }

    // ---- the package's entry for every user, and the administrator's policy ------------------

    // An entry of the kind a row names in `path`: "" none, "on", or "hidden" (Hidden=true).
    static bool PlaceEntry(const QString& path, const QString& kind)
    {
        if (kind.isEmpty())
            return true;
        const QByteArray content = kind == u"hidden" ? platform::HiddenAutostartEntryContent(kExecutable)
                                                     : platform::AutostartEntryContent(kExecutable);
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
               file.write(content) == content.size();
    }

    static QString EntryKind(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return file.readAll().contains("\nHidden=true\n") ? QStringLiteral("hidden") : QStringLiteral("on");
    }

    void autostartBoxShowsTheStartAtLogOn_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("own");
        QTest::addColumn<QVariant>("disable");
        QTest::addColumn<bool>("ticked");
        // clang-format off
        QTest::newRow("package entry only")                << "on"     << ""       << QVariant()  << true;
        QTest::newRow("package entry switched off for me") << "on"     << "hidden" << QVariant()  << false;
        QTest::newRow("package entry, searching off")      << "on"     << ""       << QVariant(1) << false;
        QTest::newRow("no entry at all: Disable decides")  << ""       << ""       << QVariant()  << true;
        QTest::newRow("package entry switched off")        << "hidden" << ""       << QVariant()  << false;
        QTest::newRow("own entry over a switched-off one") << "hidden" << "on"     << QVariant(0) << true;
        // clang-format on
    }

    void autostartBoxShowsTheStartAtLogOn()
    {
        QFETCH(QString, system);
        QFETCH(QString, own);
        QFETCH(QVariant, disable);
        QFETCH(bool, ticked);
        QVERIFY(PlaceEntry(FWorld->SystemAutostartFile(), system));
        QVERIFY(PlaceEntry(FWorld->AutostartFile(), own));
        Store(K::OnlineUpdate, K::Disable, disable);
        QCOMPARE(ReadSettingsValues().Enabled, ticked);
    }

    // With the package's entry in place the box switches the start for this user alone: an own
    // entry with Hidden=true, or none.
    void autostartBoxSavesForThisUserOnly_data()
    {
        QTest::addColumn<QString>("ownBefore");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("ownAfter");
        QTest::newRow("cleared") << "" << false << "hidden";
        QTest::newRow("ticked again") << "hidden" << true << "";
        QTest::newRow("ticked over an old own entry") << "on" << true << "";
    }

    void autostartBoxSavesForThisUserOnly()
    {
        QFETCH(QString, ownBefore);
        QFETCH(bool, ticked);
        QFETCH(QString, ownAfter);
        QVERIFY(PlaceEntry(FWorld->SystemAutostartFile(), QStringLiteral("on")));
        QVERIFY(PlaceEntry(FWorld->AutostartFile(), ownBefore));
        TSettingsValues values = ReadSettingsValues();
        values.Enabled = ticked;
        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(EntryKind(FWorld->AutostartFile()), ownAfter);
        QCOMPARE(EntryKind(FWorld->SystemAutostartFile()), QStringLiteral("on"));
        QCOMPARE(ReadSettingsValues().Enabled, ticked);
    }

    // Every field an administrator sets shows the policy value, locked, and saving leaves the
    // user's own values exactly as they were, whatever the dialog hands over.
    void policyFieldsAreShownLockedAndNotSaved()
    {
        Store(K::OnlineUpdate, K::Disable, 0);
        Store(K::OnlineUpdate, K::IntervalInHours, 96);
        Store(K::OnlineUpdate, K::LocalSource, QStringLiteral("/home/anna/quelle/"));
        Store(K::OnlineUpdate, K::NewsAktiv, 1);
        Store(K::Log, K::LogAktiv, 0);
        Store(K::Proxy, K::ProxyAktiv, 0);
        Store(K::Proxy, K::ProxyServer, QStringLiteral("anna-proxy"));
        Store(K::Proxy, K::ProxyPort, 8080);
        Store(K::Proxy, K::ProxyUsername, QStringLiteral("anna"));
        Store(K::Proxy, K::ProxyPassword, ScramblePassword(QStringLiteral("annas"), K::PasswordScrambleKey));
        Store(K::Proxy, K::UserAgent, QStringLiteral("Annas Browser"));
        QVERIFY(PlaceEntry(FWorld->AutostartFile(), QStringLiteral("on")));
        const TRootKey hklm = HKEY_LOCAL_MACHINE;
        WriteIntegerValue(hklm, K::PolicyOnlineUpdate, K::Disable, 1);
        WriteIntegerValue(hklm, K::PolicyOnlineUpdate, K::IntervalInHours, 168);
        WriteStringValue(hklm, K::PolicyOnlineUpdate, K::LocalSource, QString());
        WriteIntegerValue(hklm, K::PolicyOnlineUpdate, K::NewsAktiv, 0);
        WriteIntegerValue(hklm, K::PolicyLog, K::LogAktiv, 1);
        WriteIntegerValue(hklm, K::PolicyProxy, K::ProxyAktiv, 1);
        WriteStringValue(hklm, K::PolicyProxy, K::ProxyServer, QStringLiteral("proxy.firma"));
        WriteIntegerValue(hklm, K::PolicyProxy, K::ProxyPort, 3128);
        WriteStringValue(hklm, K::PolicyProxy, K::ProxyUsername, QStringLiteral("updater"));
        WriteStringValue(hklm, K::PolicyProxy, K::ProxyPassword,
                         ScramblePassword(QStringLiteral("geheim"), K::PasswordScrambleKey));
        WriteStringValue(hklm, K::PolicyProxy, K::UserAgent, QStringLiteral("Firmen-Updater"));
        const auto userValues = [] {
            QList<platform::TNamedValue> all;
            for (const QString& key : {K::OnlineUpdate, K::Log, K::Proxy})
                all += platform::StoreBackend::values(HKEY_CURRENT_USER, key)
                           .value_or(QList<platform::TNamedValue>());
            return all;
        };
        const QList<platform::TNamedValue> before = userValues();

        TSettingsValues values = ReadSettingsValues();
        TSettingsLocks allLocked;
        for (bool* lock :
             {&allLocked.Enabled, &allLocked.Days, &allLocked.LocalSource, &allLocked.News, &allLocked.Log,
              &allLocked.ProxyEnabled, &allLocked.ProxyServer, &allLocked.ProxyPort, &allLocked.ProxyUsername,
              &allLocked.ProxyPassword, &allLocked.UserAgent})
            *lock = true;
        QCOMPARE(values.Locks, allLocked);
        QVERIFY(!values.Enabled);
        QCOMPARE(values.Days, 7);
        QVERIFY(!values.LocalSource);  // an empty policy folder: the download server
        QCOMPARE(values.LocalSourceText, QString());
        QVERIFY(!values.News);
        QVERIFY(values.Log);
        QVERIFY(values.ProxyEnabled);
        QCOMPARE(values.ProxyServer, QStringLiteral("proxy.firma"));
        QCOMPARE(values.ProxyPort, QStringLiteral("3128"));
        QCOMPARE(values.ProxyUsername, QStringLiteral("updater"));
        QCOMPARE(values.ProxyPassword, QStringLiteral("geheim"));
        QCOMPARE(values.UserAgent, QStringLiteral("Firmen-Updater"));

        // A dialog that did not lock its fields hands over whatever they hold.
        TSettingsValues changed;
        changed.Enabled = true;
        changed.Days = 3;
        changed.LocalSource = true;
        changed.LocalSourceText = QStringLiteral("/anderswo/");
        changed.ProxyServer = QStringLiteral("x");
        changed.ProxyPort = QStringLiteral("1");
        WriteSettingsValues(changed, false, kExecutable);
        QCOMPARE(userValues(), before);
        QCOMPARE(EntryKind(FWorld->AutostartFile()), QStringLiteral("on"));

        // When the policy goes, the user's own values are there again.
        QVERIFY(platform::StoreBackend::deleteKey(hklm, QStringLiteral("Software\\Policies")));
        values = ReadSettingsValues();
        QCOMPARE(values.Locks, TSettingsLocks());
        QCOMPARE(values.Days, 4);
        QCOMPARE(values.LocalSourceText, QStringLiteral("/home/anna/quelle/"));
        QCOMPARE(values.ProxyPassword, QStringLiteral("annas"));
    }

    // A policy on one field leaves every other field saved as before.
    void policyOnOneFieldSavesTheOthers()
    {
        WriteIntegerValue(HKEY_LOCAL_MACHINE, K::PolicyOnlineUpdate, K::IntervalInHours, 168);
        TSettingsValues values = ReadSettingsValues();
        QVERIFY(values.Locks.Days);
        QVERIFY(!values.Locks.News);
        values.Days = 3;
        values.News = false;
        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(StoredInteger(K::OnlineUpdate, K::NewsAktiv), QVariant(0));
        QVERIFY(!platform::StoreBackend::readValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::IntervalInHours));
    }

    // An administrator who switches the automatic search on for everyone also gets the start at
    // log-on for a user who had switched it off, at that user's next saving.
    void policySearchOnRestoresTheStartAtLogOn()
    {
        QVERIFY(PlaceEntry(FWorld->SystemAutostartFile(), QStringLiteral("on")));
        QVERIFY(PlaceEntry(FWorld->AutostartFile(), QStringLiteral("hidden")));
        Store(K::OnlineUpdate, K::Disable, 1);
        WriteIntegerValue(HKEY_LOCAL_MACHINE, K::PolicyOnlineUpdate, K::Disable, 0);
        TSettingsValues values = ReadSettingsValues();
        QVERIFY(values.Locks.Enabled);
        QVERIFY(values.Enabled);
        values.Enabled = false;
        WriteSettingsValues(values, false, kExecutable);
        QCOMPARE(EntryKind(FWorld->AutostartFile()), QString());
        QCOMPARE(platform::StoreBackend::readValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::Disable),
                 std::optional(platform::TRawValue::fromDWord(1)));
    }

    void logInfoNamesTheLogFolder()
    {
        QCOMPARE(
            LogInfoText(QStringLiteral("/home/anna/.local/state/vorlandt/")),
            QStringLiteral("Der VorlandtOnlineUpdater erzeugt beim Schließen der Anwendung, sowie beim "
                           "Downloadprozess Log-Dateien.\n\rDie Log-Dateien sind unter folgendem Pfad zu "
                           "finden:\n\r/home/anna/.local/state/vorlandt/"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsValues)
#include "tst_settingsValues.moc"
