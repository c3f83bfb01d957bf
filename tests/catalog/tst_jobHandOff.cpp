// The hand-off to the installer: the job file's exact bytes, the temporary log entries of the
// pending updates, and the installer's start from the registered folder.
#include "CatalogWorld.h"

#include "core/catalog/JobHandOff.h"
#include "core/catalog/Updates.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

namespace {

const QString InstallerFailedLine =
    QStringLiteral("StarteUpdateSuche - Aufruf des Updates fehlgeschlagen: VorlandtUpdate.exe -DoUpdateJobs");

}  // namespace

class TestJobHandOff : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TCatalogWorld> FWorld;

    QString JobFile() const { return FWorld->TempDir() + QStringLiteral("VL_Update_Jobfile.vuj"); }
    // A module folder without siteinfo file: every update counts as newer than what is installed.
    QString ModuleDir() const { return FWorld->Path(QStringLiteral("modul")) + u'/'; }

    // "Name|ModulNr|Haupt|Neben|Unter|still|RTF", fields after the name optional.
    void Add(TUpdates& updates, const QString& offer)
    {
        const QStringList f = offer.split(u'|');
        updates.AddUpdate(f.value(0), f.value(1).toInt(), f.value(2).toInt(), f.value(3).toInt(),
                          f.value(4).toInt(), QStringLiteral("setup.exe"), f.value(5),
                          QStringLiteral("execute"), QString(), QStringLiteral("6"), f.value(6), ModuleDir());
    }

    // Puts a copy of the stand-in installer into `folder`; its report lands beside it.
    void PlaceInstaller(const QString& folder)
    {
        const QString source = QFINDTESTDATA("handoff/VorlandtUpdate.exe");
        QVERIFY(!source.isEmpty());
        QVERIFY(QDir().mkpath(folder));
        const QString target = QDir(folder).filePath(QStringLiteral("VorlandtUpdate.exe"));
        QVERIFY(QFile::copy(source, target));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    static QStringList InstallerReport(const QString& folder)
    {
        QFile report(QDir(folder).filePath(QStringLiteral("aufruf.txt")));
        if (!report.open(QIODevice::ReadOnly))
            return {QStringLiteral("<not started>")};
        return QString::fromUtf8(report.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    static void RegisterInstallerFolder(const QString& folder)
    {
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, folder);
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TCatalogWorld>();
        QVERIFY(FWorld->IsValid());
        QVERIFY(QDir().mkpath(ModuleDir()));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup()
    {
        WriteLog(TLogAction::DiscardBuffer, QString());
        FWorld.reset();
    }

    void jobFileHoldsOneLinePerUpdateInKeyOrder_data()
    {
        QTest::addColumn<QStringList>("offers");
        QTest::addColumn<QByteArray>("expected");  // "{TEMP}" stands for the temporary directory

        QTest::newRow("two updates of module 12, the silent one first by key")
            << QStringList{"Vorlandt Kasse|12|5|4|2|nein", "Vorlandt Kasse|12|5|3|7|ja"}
            << QByteArray(
                   "6;{TEMP}update_12_5.xml;12;5;3;7;s;-;Vorlandt Kasse\r\n"
                   "6;{TEMP}update_12_5.xml;12;5;4;2;-;-;Vorlandt Kasse\r\n");
        QTest::newRow("designation with semicolons fills the rest of the line")
            << QStringList{"Kasse; Filiale;Nord %1|12|5|4|2|nein"}
            << QByteArray("6;{TEMP}update_12_5.xml;12;5;4;2;-;-;Kasse; Filiale;Nord %1\r\n");
        QTest::newRow("modules in ascending order, each with its own major version and name")
            << QStringList{"KTVO Lohn|30|2|0|1|ja", "Kasse|4|11|-1|0|"}
            << QByteArray(
                   "6;{TEMP}update_4_11.xml;4;11;-1;0;-;-;Kasse\r\n"
                   "6;{TEMP}update_30_2.xml;30;2;0;1;s;-;Zahlwerk Lohn\r\n");
        QTest::newRow("designation in Windows-1252, beyond it '?'")
            << QStringList{"Lohn & Gehälter → Pro|12|5|4|2|nein"}
            << QByteArray("6;{TEMP}update_12_5.xml;12;5;4;2;-;-;Lohn & Geh\xE4lter ? Pro\r\n");
        // A line break would turn the rest of the designation into a job line of its own.
        QTest::newRow("line breaks in the designation become blanks")
            << QStringList{"Kasse\r\n6;/tmp/x.xml;1;1;1;1;s;-;Fremd|12|5|4|2|nein"}
            << QByteArray("6;{TEMP}update_12_5.xml;12;5;4;2;-;-;Kasse  6;/tmp/x.xml;1;1;1;1;s;-;Fremd\r\n");
        QTest::newRow("empty catalog gives an empty file") << QStringList{} << QByteArray();
    }

    void jobFileHoldsOneLinePerUpdateInKeyOrder()
    {
        QFETCH(QStringList, offers);
        QFETCH(QByteArray, expected);
        TUpdates updates;
        for (const QString& offer : offers)
            Add(updates, offer);

        updates.CreateCommandLineParameters();
        WriteJobFile(updates);

        expected.replace("{TEMP}", QFile::encodeName(FWorld->TempDir()));
        QCOMPARE(Read(JobFile()), expected);
        QCOMPARE(JobFilePath(), JobFile());
    }

    void jobFileIsReplacedAsAWhole()
    {
        Write(JobFile(), QByteArray("6;alt;1;1;1;1;-;-;Alt\r\n").repeated(20));
        TUpdates updates;
        Add(updates, QStringLiteral("Kasse|12|5|4|2|nein"));
        updates.CreateCommandLineParameters();

        WriteJobFile(updates);

        QCOMPARE(Read(JobFile()),
                 QFile::encodeName(
                     QStringLiteral("6;%1update_12_5.xml;12;5;4;2;-;-;Kasse\r\n").arg(FWorld->TempDir())));
    }

    void jobFileThatCannotBeWrittenRaises()
    {
        QVERIFY(QDir().mkpath(JobFile()));
        TUpdates updates;
        Add(updates, QStringLiteral("Kasse|12|5|4|2|nein"));
        updates.CreateCommandLineParameters();
        try {
            WriteJobFile(updates);
            QFAIL("no error raised");
        } catch (const EVorlandtError& error) {
            QCOMPARE(error.kind(), EVorlandtError::Kind::InOut);
            QVERIFY2(error.message().contains(JobFile()), qPrintable(error.message()));
        }
        QVERIFY(QFileInfo(JobFile()).isDir());
    }

    void rtfFilesHoldThePlainTextOfEachDescription()
    {
        TUpdates updates;
        Add(updates,
            QStringLiteral("Kasse|12|5|4|2|nein|{\\rtf1\\ansi Erste Zeile\\par Zweite \\b Zeile\\b0\\par}"));
        Add(updates, QStringLiteral("Kasse|12|5|3|7|ja|"));

        updates.WriteRTFFiles();

        QCOMPARE(Read(FWorld->TempDir() + QStringLiteral("VL_UpdateTXT_12_5_4_2.tmp")),
                 QByteArray("Erste Zeile\r\nZweite Zeile\r\n"));
        QCOMPARE(Read(FWorld->TempDir() + QStringLiteral("VL_UpdateTXT_12_5_3_7.tmp")), QByteArray());
    }

    void rtfFilesStopAtTheFirstEntryThatCannotBeReplaced()
    {
        // Keys in order: (12,3,7) fails, so (12,4,2) is never written.
        QVERIFY(QDir().mkpath(FWorld->TempDir() + QStringLiteral("VL_UpdateTXT_12_5_3_7.tmp/inhalt")));
        TUpdates updates;
        Add(updates, QStringLiteral("Kasse|12|5|4|2|nein|Text"));
        Add(updates, QStringLiteral("Kasse|12|5|3|7|ja|Text"));

        try {
            updates.WriteRTFFiles();
            QFAIL("no error raised");
        } catch (const EVorlandtError& error) {
            QCOMPARE(error.message(),
                     FWorld->TempDir() +
                         QStringLiteral("VL_UpdateTXT_12_5_3_7.tmp konnte nicht gelöscht werden."));
        }
        QVERIFY(!QFile::exists(FWorld->TempDir() + QStringLiteral("VL_UpdateTXT_12_5_4_2.tmp")));
    }

    void installerFolderComesFromTheStore_data()
    {
        QTest::addColumn<QString>("pfad");  // "<none>": not registered; "@" stands for the test folder
        QTest::addColumn<QString>("folder");

        QTest::newRow("not registered") << "<none>"
                                        << "/opt/KRSoftware/";
        QTest::newRow("separator appended") << "@/suite"
                                            << "@/suite/";
        QTest::newRow("trailing slash kept") << "@/suite/"
                                             << "@/suite/";
        QTest::newRow("trailing backslash kept") << "@/suite\\"
                                                 << "@/suite\\";
        // Relative or empty, it would start whatever lies in the current folder or in "/".
        QTest::newRow("empty") << ""
                               << "/opt/KRSoftware/";
        QTest::newRow("Windows path") << "c:\\Programme\\KRSoftware\\"
                                      << "/opt/KRSoftware/";
        QTest::newRow("relative path") << "suite/bin"
                                       << "/opt/KRSoftware/";
    }

    void installerFolderComesFromTheStore()
    {
        QFETCH(QString, pfad);
        QFETCH(QString, folder);
        if (pfad != u"<none>")
            RegisterInstallerFolder(pfad.replace(u'@', FWorld->Root()));
        QCOMPARE(InstallerFolder(), folder.replace(u'@', FWorld->Root()));
    }

    void installerRunsInItsFolderWithDoUpdateJobs()
    {
        const QString folder = FWorld->Path(QStringLiteral("KR Software"));
        PlaceInstaller(folder);
        RegisterInstallerFolder(folder);
        QString dllPfad;

        QVERIFY(StartInstaller(&dllPfad));

        QCOMPARE(dllPfad, folder + u'/');
        // The report is there at once: the call returned only after the installer had ended.
        const QStringList expected{QDir(folder).canonicalPath(), QStringLiteral("1"),
                                   QStringLiteral("-DoUpdateJobs")};
        QCOMPARE(InstallerReport(folder), expected);
        QVERIFY(!LogBuffer().value().contains(InstallerFailedLine));
    }

    void missingInstallerIsLoggedAndReported()
    {
        const QString folder = FWorld->Path(QStringLiteral("leer")) + u'/';
        QVERIFY(QDir().mkpath(folder));
        RegisterInstallerFolder(folder);
        QString dllPfad;

        QVERIFY(!StartInstaller(&dllPfad));

        QCOMPARE(dllPfad, folder);
        QVERIFY(LogBuffer().value().contains(InstallerFailedLine));
        QVERIFY(StartInstaller() == false);
    }
};

QTEST_GUILESS_MAIN(TestJobHandOff)
#include "tst_jobHandOff.moc"
