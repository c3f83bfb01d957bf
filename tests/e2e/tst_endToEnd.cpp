// The whole flow with the real programs: vorlandt-update-check against a loopback HTTPS server
// (news, good, malformed and missing descriptors), the job file and temporary log entries it
// leaves, the demo installer it starts, the installed-updates log and version files afterwards,
// the diagnostic log, and a second run that finds nothing. Then the demo installer alone: a
// damaged job file changes nothing, and a version file is raised without losing its other lines.
#include "core/platform/text/TextCodec.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/ChildRun.h"
#include "support/PrivateStores.h"
#include "support/TestFiles.h"
#include "support/TestSigningKey.h"

#include "support/net/TestHttpsServer.h"
#include "support/net/TestPki.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TModule {
    const char* folder;  // registration subkey and installation folder
    qint32 nr;
    qint32 haupt;
    const char* name;  // "Update_Modulbezeichnung"
};

// 13 has no descriptor on the server (404); 9's descriptor is malformed after its first update.
const TModule Modules[] = {
    {"Buchhaltung", 42, 12, "Vorlandt Buchhaltung"},
    {"Kasse", 7, 5, "KTVO Kasse"},
    {"Lohn", 9, 1, "Lohn;Gehalt für Büros"},
    {"Archiv", 13, 2, "Vorlandt Archiv"},
};

const QString CrLf = QStringLiteral("\r\n");

QByteArray Cp1252(const QString& text)
{
    return platform::EncodeWindows1252(text);
}

// The installation date is the child's today: the test fixes its format, not its value.
QString WithoutDates(QString log)
{
    static const QRegularExpression date(QStringLiteral("Installationsdatum: \\d\\d\\.\\d\\d\\.\\d{4}\r\n"));
    return log.replace(date, QStringLiteral("Installationsdatum: DATUM\r\n"));
}

QString LogEntry(const QString& modul, const QString& version, const QString& text)
{
    const QString bar = QStringLiteral("=======================");
    return bar + CrLf + QStringLiteral("Installationsdatum: DATUM") + CrLf + QStringLiteral("Modul: ") +
           modul + CrLf + QStringLiteral("Version: ") + version + CrLf + bar + CrLf + text + CrLf + CrLf +
           CrLf;
}

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    QString FOriginalTempPath;
    QTemporaryDir FCertDir;
    TTestPki FPki;
    QString FPkiError;
    std::unique_ptr<TPrivateStores> FStores;
    std::unique_ptr<TTestHttpsServer> FServer;

    QString Path(const QString& name) const { return FStores->FilePath(name); }
    QString TempDir() const { return Path(QStringLiteral("tmp")) + u'/'; }
    QString DataDir() const { return Path(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0")) + u'/'; }
    QString SuiteDir() const { return Path(QStringLiteral("suite")) + u'/'; }
    QString ModuleDir(const char* folder) const { return SuiteDir() + QString::fromUtf8(folder) + u'/'; }
    QString SiteInfo(const char* folder, qint32 nr) const
    {
        return ModuleDir(folder) + QStringLiteral("siteinfo_%1.ini").arg(nr);
    }
    QString JobFile() const { return TempDir() + QStringLiteral("VL_Update_Jobfile.vuj"); }
    QString UserLog() const { return DataDir() + QStringLiteral("VL_Userlog.txt"); }
    QString Installer() const { return SuiteDir() + QStringLiteral("VorlandtUpdate.exe"); }
    // A private copy: the diagnostic log goes beside the executable, which must not be the
    // build folder every test shares.
    QString UpdateCheck() const { return Path(QStringLiteral("bin/vorlandt-update-check")); }
    // Beside the programs in the user's own folder; root's goes to the state folder instead.
    QString DiagnosticLog() const
    {
        return Path(::geteuid() == 0 ? QStringLiteral("state/vorlandt/VorlandtOnlineUpdater_Log.txt")
                                     : QStringLiteral("bin/VorlandtOnlineUpdater_Log.txt"));
    }

    // The child's world: its folders, its locale, no terminal.
    void Prepare(QProcess& process) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), Path(QStringLiteral("tmp")));
        environment.insert(QStringLiteral("VORLANDT_PROGRAMDATA"), Path(QStringLiteral("programdata")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), Path(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
        // The C locale's regional format is the German one: dates read dd.mm.yyyy.
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(FStores->Path());
        // No terminal: the console front end takes its answers from the options.
        process.setStandardInputFile(QProcess::nullDevice());
    }

    TRun Run(const QString& program, const QStringList& arguments,
             const std::function<void()>& childModifier = nullptr) const
    {
        QProcess process;
        Prepare(process);
        if (childModifier)
            process.setChildProcessModifier(childModifier);
        process.start(program, arguments);
        TRun run;
        if (!process.waitForStarted(30000))
            return run;
        if (!process.waitForFinished(240000)) {
            process.kill();
            process.waitForFinished(5000);
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    TRun CheckForUpdates(const QStringList& arguments)
    {
        TRun run = Run(UpdateCheck(), arguments);
        if (run.exitCode != 0)
            qWarning().noquote() << "stdout:" << run.out << "\nstderr:" << run.err;
        return run;
    }

    void StartServer()
    {
        if (!FPkiError.isEmpty())
            QSKIP(qPrintable(FPkiError));
        if (TTestHttpsServer::PythonProgram().isEmpty())
            QSKIP("python3 missing: no loopback HTTPS server");
        FServer = std::make_unique<TTestHttpsServer>();
        const QString error = FServer->Start(FPki.ServerCert, FPki.ServerKey, QFINDTESTDATA("www"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         FServer->Url(QStringLiteral("/")));
    }

    // Every file below `folder` with its content, to tell that nothing changed there.
    static QMap<QString, QByteArray> Snapshot(const QString& folder)
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files.insert(path, it.fileInfo().isFile() ? ReadFile(path) : QByteArray("<folder>"));
        }
        return files;
    }

    QString DescriptorPath(qint32 nr, qint32 haupt) const
    {
        return TempDir() + QStringLiteral("update_%1_%2.xml").arg(nr).arg(haupt);
    }

private Q_SLOTS:
    void initTestCase()
    {
        FOriginalTempPath = QDir::tempPath();
        if (TTestPki::OpensslProgram().isEmpty())
            FPkiError = QStringLiteral("openssl missing: no certificates for the loopback server");
        else if (!FCertDir.isValid())
            FPkiError = QStringLiteral("no temporary folder for the certificates");
        else
            FPkiError = FPki.Create(FCertDir.path());
        if (FPkiError.isEmpty()) {
            qputenv("SSL_CERT_FILE", FPki.CaFile.toUtf8());
            qunsetenv("SSL_CERT_DIR");
        }
        for (const char* variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            qunsetenv(variable);
    }

    void init()
    {
        FStores =
            std::make_unique<TPrivateStores>(FOriginalTempPath + QStringLiteral("/tst_endToEnd-XXXXXX"));
        QVERIFY(FStores->IsValid());
        for (const char* folder : {"tmp", "programdata", "state", "config", "bin"})
            QVERIFY(QDir().mkpath(Path(QString::fromUtf8(folder))));
        QVERIFY(QFile::copy(QStringLiteral(VORLANDT_UPDATE_CHECK_EXE), UpdateCheck()));
        QVERIFY(QDir().mkpath(SuiteDir()));
        QVERIFY(QFile::link(QStringLiteral(VORLANDT_DEMO_INSTALLER_EXE), Installer()));

        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, SuiteDir());
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        for (const TModule& m : Modules) {
            const QString registration = SettingsKeys::OnlineUpdateModule + QString::fromUtf8(m.folder);
            WriteIntegerValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateID, m.nr);
            WriteIntegerValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateHauptversion, m.haupt);
            WriteStringValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateModulbezeichnung,
                             QString::fromUtf8(m.name));
            WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware\\Module\\") + m.folder,
                             SettingsKeys::Pfad, ModuleDir(m.folder));
            QVERIFY(QDir().mkpath(ModuleDir(m.folder)));
        }
        // Lohn has no version file yet: it counts as 0.0.0 and gets one from the installer.
        QVERIFY(WriteFile(SiteInfo("Buchhaltung", 42),
                          "[Version]\r\nhauptversion=12\r\nnebenversion=3\r\nunterversion=1\r\n"));
        QVERIFY(WriteFile(SiteInfo("Kasse", 7), "hauptversion=5\r\nnebenversion=1\r\nunterversion=0\r\n"));
    }

    void cleanup()
    {
        if (FServer)
            FServer->Stop();
        FServer.reset();
        FStores.reset();
    }

    // ---- the update check, the installer it starts, and the next check ---------------------

    void acceptedUpdatesAreInstalledAndNotOfferedAgain()
    {
        StartServer();

        // Installed, but Lohn's descriptor could not be read to its end: not all was checked.
        const TRun first = CheckForUpdates({QStringLiteral("--accept")});
        QCOMPARE(first.exitCode, 5);
        QVERIFY2(first.err.contains(QStringLiteral("Nicht geprüft: Lohn;Gehalt für Büros (update_9_1.xml): ")),
                 qPrintable(first.err));

        // What the windows would have shown, in order: the news item, the malformed
        // descriptor's warning, the pending updates grouped by module, the answer.
        const QString expectedOut = QStringLiteral(
                                        "Neuigkeit vom 01.02.2026\n"
                                        "Neu: Online-Updates für alle Module\n"
                                        "\n") +
                                    QStringLiteral("Warnung: Datei \"") + DescriptorPath(9, 1) +
                                    QStringLiteral("\" hat nicht das richtige Format:\n\n");
        QVERIFY2(first.out.startsWith(expectedOut), qPrintable(first.out));
        const QString pending = QStringLiteral(
            "Anstehende Updates:\n"
            "\n"
            "Zahlwerk Kasse\n"
            "  Version 5.2.0\n"
            "    Gutscheine\n"
            "\n"
            "Lohn;Gehalt für Büros\n"
            "  Version 1.1.1\n"
            "    Beitragssätze\n"
            "\n"
            "Vorlandt Buchhaltung\n"
            "  Version 12.3.2\n"
            "    Umsatzsteuer: neue Kennzahlen\n"
            "    Offene Posten nach Fälligkeit\n"
            "  Version 12.4.0\n"
            "    Jahresversion: Hinweise\n"
            "\n"
            "Updates installieren\n");
        QVERIFY2(first.out.endsWith(pending), qPrintable(first.out));
        // The missing descriptor (404) is skipped without a word.
        QVERIFY(!first.out.contains(QStringLiteral("update_13_2")));

        // Progress goes to stderr, one line per registration.
        for (const TModule& m : Modules)
            QVERIFY2(
                first.err.contains(QStringLiteral("/04] Überprüfe %1...\n").arg(QString::fromUtf8(m.folder))),
                qPrintable(first.err));

        // The job file: Windows-1252, CR LF, in key order; a designation keeps its ";".
        const QString jobs =
            QStringLiteral("6;%1;7;5;2;0;s;-;Zahlwerk Kasse\r\n").arg(DescriptorPath(7, 5)) +
            QStringLiteral("6;%1;9;1;1;1;-;-;Lohn;Gehalt für Büros\r\n").arg(DescriptorPath(9, 1)) +
            QStringLiteral("6;%1;42;12;3;2;-;-;Vorlandt Buchhaltung\r\n").arg(DescriptorPath(42, 12)) +
            QStringLiteral("6;%1;42;12;4;0;-;-;Vorlandt Buchhaltung\r\n").arg(DescriptorPath(42, 12));
        QCOMPARE(ReadFile(JobFile()), Cp1252(jobs));

        // A temporary log entry per pending update: the description's paragraphs as plain text.
        QCOMPARE(
            ReadFile(TempDir() + QStringLiteral("VL_UpdateTXT_42_12_3_2.tmp")),
            Cp1252(QStringLiteral("Umsatzsteuer: neue Kennzahlen\r\nOffene Posten nach Fälligkeit\r\n")));
        QCOMPARE(ReadFile(TempDir() + QStringLiteral("VL_UpdateTXT_7_5_2_0.tmp")),
                 QByteArray("Gutscheine\r\n"));
        QVERIFY(!QFile::exists(TempDir() + QStringLiteral("VL_UpdateTXT_42_12_3_1.tmp")));

        // The installer ran: every update in the log, the last job on top, versions raised.
        const QString log = platform::DecodeWindows1252(ReadFile(UserLog()));
        QCOMPARE(
            WithoutDates(log),
            LogEntry(QStringLiteral("Vorlandt Buchhaltung"), QStringLiteral("12.4.0"),
                     QStringLiteral("Jahresversion: Hinweise")) +
                LogEntry(QStringLiteral("Vorlandt Buchhaltung"), QStringLiteral("12.3.2"),
                         QStringLiteral("Umsatzsteuer: neue Kennzahlen\r\nOffene Posten nach Fälligkeit")) +
                LogEntry(QStringLiteral("Lohn;Gehalt für Büros"), QStringLiteral("1.1.1"),
                         QStringLiteral("Beitragssätze")) +
                LogEntry(QStringLiteral("Zahlwerk Kasse"), QStringLiteral("5.2.0"),
                         QStringLiteral("Gutscheine")));
        QCOMPARE(ReadFile(SiteInfo("Buchhaltung", 42)),
                 QByteArray("[Version]\r\nhauptversion=12\r\nnebenversion=4\r\nunterversion=0\r\n"));
        QCOMPARE(ReadFile(SiteInfo("Kasse", 7)),
                 QByteArray("hauptversion=5\r\nnebenversion=2\r\nunterversion=0\r\n"));
        QCOMPARE(ReadFile(SiteInfo("Lohn", 9)),
                 QByteArray("hauptversion=1\r\nnebenversion=1\r\nunterversion=1\r\n"));
        QVERIFY(!QFile::exists(SiteInfo("Archiv", 13)));

        // The diagnostic log of the run, saved when the program ended.
        const QStringList lines =
            platform::SplitLines(platform::DecodeWindows1252(ReadFile(DiagnosticLog())));
        QVERIFY2(lines.size() > 3, qPrintable(lines.join(u'\n')));
        QVERIFY(lines.at(0).startsWith(QStringLiteral("Timestamp: ")));
        QCOMPARE(lines.at(1), QStringLiteral("Updatesuche gestartet"));
        // The file ends with an empty line.
        QCOMPARE(lines.mid(lines.size() - 2),
                 QStringList({QStringLiteral("VorlandtOnlineUpdater beendet"), QString()}));
        const QStringList expectedLines = {
            QStringLiteral("CheckForNews - Result: True"),
            QStringLiteral("DownloadUpdateXML - HTTPS-Quelle wird verwendet: ") +
                FServer->Url(QStringLiteral("/Modul_13/update_13_2.xml")),
            QStringLiteral("StartEXE - Start - Parameters: (Handle), ") + Installer() +
                QStringLiteral(", -DoUpdateJobs, True"),
            QStringLiteral("StartEXE - Ende - Result: True"),
        };
        for (const QString& line : expectedLines)
            QVERIFY2(lines.contains(line), qPrintable(line));
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^GetVersionInfos - .*\"nr\""))).size(), 1);

        // The next search: the news item was seen, the installed updates are no longer pending
        // (the malformed descriptor still warns, and keeps the search from being "up to date"),
        // no job file, no installer, the log unchanged.
        const TRun second = CheckForUpdates({QStringLiteral("--accept")});
        QCOMPARE(second.exitCode, 5);
        QVERIFY2(!second.out.contains(QStringLiteral("Neuigkeit vom")), qPrintable(second.out));
        QVERIFY2(second.out.endsWith(QStringLiteral("Warnung: Keine neuen Updates gefunden, aber nicht alle Module "
                                                    "konnten geprüft werden.\n")),
                 qPrintable(second.out));
        QVERIFY(!QFile::exists(JobFile()));
        QCOMPARE(platform::DecodeWindows1252(ReadFile(UserLog())), log);
        const QStringList secondLines =
            platform::SplitLines(platform::DecodeWindows1252(ReadFile(DiagnosticLog())));
        QVERIFY(secondLines.contains(QStringLiteral("NewsExist - NewsItem bereits angezeigt")));
        QVERIFY(secondLines.filter(QStringLiteral("StartEXE")).isEmpty());
    }

    // Interrupted while a server trickles its answer, the program stops the transfer and ends
    // with 128 + the signal's number, leaving no half-fetched file behind.
    void interruptDuringADownloadEndsTheRun_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
        QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT) << 130;
    }

    void interruptDuringADownloadEndsTheRun()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        StartServer();
        // Two bytes a second for ten minutes stand in for news file and descriptors alike.
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         FServer->Url(QStringLiteral("/slow?seconds=600&bytes=1200&rest=")));

        QProcess process;
        Prepare(process);
        process.start(UpdateCheck(), {});
        QVERIFY(process.waitForStarted(30000));
        const auto bodyRequested = [this] {
            for (const TRecordedRequest& request : FServer->Requests()) {
                if (request.Method == QStringLiteral("GET"))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(bodyRequested(), 30000);
        QTest::qWait(300);  // the first bytes are on their way

        QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
        // A bound for a loaded machine; the transfer itself stops within about a second.
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY(QString::fromUtf8(process.readAllStandardError())
                    .contains(QStringLiteral("Updatesuche abgebrochen.")));
        QCOMPARE(QDir(TempDir()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("VL_UpdateRun.lock")}));
        const QString log = platform::DecodeWindows1252(ReadFile(DiagnosticLog()));
        QVERIFY2(log.contains(QStringLiteral("Die Übertragung wurde abgebrochen")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("Updatesuche abgebrochen")), qPrintable(log));
    }

    // What a script learns from the exit status: 0 for a search that did its work, 1 for one that
    // could not (no source reached, a fetched file that could not be stored), 3 for an installer
    // that failed. Only a search that reached its source records the time of the check.
    void exitStatusTellsWhatHappened_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");  // a part of stdout
        QTest::addColumn<QString>("err");  // a part of stderr
        QTest::addColumn<bool>("recorded");
        const QStringList accept{QStringLiteral("--accept")};
        const QString installed = QStringLiteral("Updates installieren\n");
        const QString refused = QStringLiteral(
            "Warnung: Der Update-Server https://127.0.0.1:1/ ist nicht erreichbar: Verbindung abgelehnt. "
            "Bitte prüfen Sie die Internetverbindung und die Proxy-Einstellungen.\n");
        const QString notStored = QStringLiteral(
            "Im temporären Verzeichnis \"@\" kann keine abgerufene Datei "
            "gespeichert werden. Die Suche nach Updates wurde abgebrochen.\n\n");
        // clang-format off
        QTest::newRow("installed")                 << "server"          << accept << 0 << installed << QString() << true;
        QTest::newRow("installer fails")           << "installerFails"  << accept << 3 << installed
            << "Das Installationsprogramm wurde mit dem Status 1 beendet.\n" << true;
        QTest::newRow("installer killed")          << "installerKilled" << accept << 3 << installed
            << "Das Installationsprogramm wurde durch das Signal 9 beendet.\n" << true;
        QTest::newRow("installer missing")         << "noInstaller"     << accept << 3 << installed
            << "Das Installationsprogramm \"%SUITE%VorlandtUpdate.exe\" lässt sich nicht starten: No such file or directory.\n" << true;
        QTest::newRow("declined: installer unused") << "installerFails" << QStringList() << 0
            << "Keine Updates durchführen\n" << QString() << true;
        QTest::newRow("no server reachable")       << "deadServer"      << QStringList() << 1 << refused << QString() << false;
        QTest::newRow("no server reachable, -a")   << "deadServer"      << QStringList{"-a"} << 0 << QString() << QString() << false;
        QTest::newRow("local folder missing")      << "missingFolder"   << QStringList() << 1
            << "Warnung: Das lokale Update-Verzeichnis \"" << QString() << false;
        QTest::newRow("temporary folder full")     << "fileSizeLimit"   << QStringList() << 1 << QString()
            << notStored + "Die Datei \"@news.xml\" kann nicht geschrieben werden: File too large\n" << false;
        QTest::newRow("a folder in the way")       << "folderInTheWay"  << QStringList() << 1 << QString()
            << notStored + "Die Datei \"@update_42_12.xml\" kann nicht geschrieben werden: Is a directory\n" << false;
        // clang-format on
    }

    void exitStatusTellsWhatHappened()
    {
        QFETCH(QString, situation);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(bool, recorded);
        err.replace(u'@', TempDir());
        err.replace(QStringLiteral("%SUITE%"), SuiteDir());
        if (situation == u"deadServer") {
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                             QStringLiteral("https://127.0.0.1:1/"));
        } else if (situation == u"missingFolder") {
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                             Path(QStringLiteral("unmounted/")));
        } else {
            StartServer();
            if (!FServer || QTest::currentTestFailed())
                return;
        }
        if (situation.startsWith(QStringLiteral("installer")) || situation == u"noInstaller") {
            QVERIFY(QFile::remove(Installer()));
            if (situation != u"noInstaller") {
                QVERIFY(WriteFile(Installer(), situation == u"installerFails"
                                                   ? "#!/bin/sh\nexit 1\n"
                                                   : "#!/bin/sh\nkill -KILL $$\n"));
                QVERIFY(QFile::setPermissions(Installer(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            }
        }
        if (situation == u"folderInTheWay")
            QVERIFY(QDir().mkpath(DescriptorPath(42, 12)));
        // Lohn's malformed descriptor would make every search incomplete (5, table below).
        WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("Lohn"),
                          SettingsKeys::ModuleDisabledRun, 1);
        std::function<void()> limit;
        if (situation == u"fileSizeLimit") {
            // As a full disk would: every write past 16 bytes fails, for root too. The diagnostic
            // log stays off, it could not be written either.
            WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, false);
            limit = [] {
                ::signal(SIGXFSZ, SIG_IGN);
                struct rlimit bytes {
                    16, 16
                };
                ::setrlimit(RLIMIT_FSIZE, &bytes);
            };
        }

        const TRun run = Run(UpdateCheck(), arguments, limit);

        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(out), qPrintable(run.out));
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
        QVERIFY2(!run.out.contains(QStringLiteral("auf dem neuesten Stand")), qPrintable(run.out));
        QCOMPARE(ValueExists(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime),
                 recorded);
    }

    // A search that only looks lists what is pending and changes nothing: no stored value, no
    // file in the data folder, no job file or temporary entry, no installer, no news shown. Its
    // exit status tells a script whether updates are pending.
    void checkOnlyChangesNothing_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("updates pending") << true << 4;
        QTest::newRow("nothing pending") << false << 0;
    }

    void checkOnlyChangesNothing()
    {
        QFETCH(bool, pending);
        QFETCH(int, exitCode);
        StartServer();
        if (!FServer || QTest::currentTestFailed())
            return;
        if (!pending) {
            QVERIFY(WriteFile(SiteInfo("Buchhaltung", 42),
                              "hauptversion=12\r\nnebenversion=4\r\nunterversion=0\r\n"));
            QVERIFY(
                WriteFile(SiteInfo("Kasse", 7), "hauptversion=5\r\nnebenversion=2\r\nunterversion=0\r\n"));
            QVERIFY(WriteFile(SiteInfo("Lohn", 9), "hauptversion=1\r\nnebenversion=1\r\nunterversion=1\r\n"));
        }
        // Lohn's malformed descriptor would make the search incomplete (5, table below).
        WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("Lohn"),
                          SettingsKeys::ModuleDisabledRun, 1);
        // An earlier search's traces and a log in the data folder, as on a machine in use.
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                         QStringLiteral("01.01.2026 08:00:00"));
        QVERIFY(WriteFile(UserLog(), "frühere Einträge\r\n"));
        const QMap<QString, QByteArray> data = Snapshot(Path(QStringLiteral("programdata")));
        const QMap<QString, QByteArray> suite = Snapshot(SuiteDir());
        const QByteArray userStore = ReadFile(Path(QStringLiteral("user.db")));
        const QByteArray machineStore = ReadFile(Path(QStringLiteral("machine.db")));

        const TRun run = Run(UpdateCheck(), {QStringLiteral("--check-only")});

        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        QVERIFY2(!run.out.contains(QStringLiteral("Neuigkeit vom")), qPrintable(run.out));
        QVERIFY2(!run.out.contains(QStringLiteral("Updates installieren")), qPrintable(run.out));
        if (pending)
            QVERIFY2(
                run.out.contains(QStringLiteral("Anstehende Updates:\n\nZahlwerk Kasse\n  Version 5.2.0\n")),
                qPrintable(run.out));
        else
            QVERIFY2(run.out.endsWith(QStringLiteral("Ihre Software ist auf dem neuesten Stand.\n")),
                     qPrintable(run.out));
        QCOMPARE(ReadFile(Path(QStringLiteral("user.db"))), userStore);
        QCOMPARE(ReadFile(Path(QStringLiteral("machine.db"))), machineStore);
        QCOMPARE(Snapshot(Path(QStringLiteral("programdata"))), data);
        QCOMPARE(Snapshot(SuiteDir()), suite);
        QVERIFY(!QFile::exists(JobFile()));
        QCOMPARE(QDir(TempDir()).entryList({QStringLiteral("VL_*.tmp")}, QDir::Files), QStringList());
    }

    // With --json stdout holds one JSON document and nothing else: per registration its outcome,
    // and the overall result with the exit status; the prose goes to stderr.
    void jsonReportsEveryRegistration_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("result");
        // registration -> outcome, or outcome|versions|reason-part
        QTest::addColumn<QStringList>("outcomes");
        const QStringList checkOnly{QStringLiteral("--check-only"), QStringLiteral("--json")};
        // clang-format off
        QTest::newRow("updates pending, one not checked") << "server" << checkOnly << 5 << "updates-pending" << QStringList{
            "Archiv=descriptor-missing", "Aus=skipped", "Buchhaltung=updates-offered|12.3.2,12.4.0|",
            "Kasse=updates-offered|5.2.0|", "Lohn=descriptor-malformed|1.1.1|nr"};
        QTest::newRow("no server reachable") << "deadServer" << checkOnly << 1 << "no-source-reachable" << QStringList{
            "Archiv=source-unreachable||Verbindung abgelehnt", "Aus=skipped",
            "Buchhaltung=source-unreachable||Verbindung abgelehnt", "Kasse=source-unreachable||Verbindung abgelehnt",
            "Lohn=source-unreachable||Verbindung abgelehnt"};
        QTest::newRow("signatures required, none there") << "signed" << checkOnly << 5 << "incomplete" << QStringList{
            "Archiv=descriptor-missing", "Aus=skipped", "Buchhaltung=signature-refused||Signatur fehlt",
            "Kasse=signature-refused||Signatur fehlt", "Lohn=signature-refused||Signatur fehlt"};
        QTest::newRow("installer failed") << "installerFails" << QStringList{"--accept", "--json"} << 3
            << "installer-failed" << QStringList{
            "Archiv=descriptor-missing", "Aus=skipped", "Buchhaltung=updates-offered|12.3.2,12.4.0|",
            "Kasse=updates-offered|5.2.0|", "Lohn=descriptor-malformed|1.1.1|nr"};
        // clang-format on
    }

    void jsonReportsEveryRegistration()
    {
        QFETCH(QString, situation);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, result);
        QFETCH(QStringList, outcomes);
        if (situation == u"deadServer") {
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                             QStringLiteral("https://127.0.0.1:1/"));
        } else {
            StartServer();
            if (!FServer || QTest::currentTestFailed())
                return;
        }
        WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("Aus"),
                          SettingsKeys::ModuleDisabledRun, 1);
        if (situation == u"signed")
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                             QString::fromLatin1(QByteArray(32, 'k').toBase64()));
        if (situation == u"installerFails") {
            QVERIFY(QFile::remove(Installer()));
            QVERIFY(WriteFile(Installer(), "#!/bin/sh\necho 'nicht auf stdout'\nexit 1\n"));
            QVERIFY(QFile::setPermissions(Installer(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }

        const TRun run = Run(UpdateCheck(), arguments);

        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + u'\n' + run.out));
        const QJsonObject report = document.object();
        QCOMPARE(report.value(QStringLiteral("result")).toString(), result);
        QCOMPARE(report.value(QStringLiteral("exitStatus")).toInt(), exitCode);
        QStringList actual;
        for (const QJsonValue& value : report.value(QStringLiteral("modules")).toArray()) {
            const QJsonObject module = value.toObject();
            QString line = module.value(QStringLiteral("registration")).toString() + u'=' +
                           module.value(QStringLiteral("outcome")).toString();
            const QStringList versions = module.value(QStringLiteral("versions")).toVariant().toStringList();
            const QString reason = module.value(QStringLiteral("reason")).toString();
            actual << line;
            QVERIFY2(module.contains(QStringLiteral("module")) ==
                         (module.value(QStringLiteral("outcome")).toString() != u"skipped"),
                     qPrintable(line));
            // The expected reason is a part of the real one.
            for (const QString& expected : outcomes) {
                const QStringList parts = expected.split(u'|');
                if (parts.first() != line)
                    continue;
                if (parts.size() > 1) {
                    QCOMPARE(versions.join(u','), parts.at(1));
                    QVERIFY2(reason.contains(parts.at(2)), qPrintable(line + u' ' + reason));
                }
            }
        }
        QStringList expectedLines;
        for (const QString& expected : outcomes)
            expectedLines << expected.section(u'|', 0, 0);
        actual.sort();
        QCOMPARE(actual, expectedLines);
        if (situation == u"installerFails") {
            QCOMPARE(report.value(QStringLiteral("installer"))
                         .toObject()
                         .value(QStringLiteral("exitStatus"))
                         .toInt(),
                     1);
            QVERIFY2(run.err.contains(QStringLiteral("nicht auf stdout")), qPrintable(run.err));
        }
        // The prose went to stderr.
        QVERIFY2(run.err.contains(QStringLiteral("Überprüfe Buchhaltung...")), qPrintable(run.err));
        if (situation == u"server")
            QVERIFY2(run.err.contains(QStringLiteral("Anstehende Updates:")), qPrintable(run.err));
    }

    // What a script learns of a search, as a table: the exit status (5 whenever a module could not
    // be checked: below a failed installer, above pending updates), the line on stderr naming the
    // module's file and the reason in the diagnostic log's words, and the JSON outcome.
    void outcomesTellAScriptWhatHappened_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err");      // a line on stderr; %SUITE% is the suite folder
        QTest::addColumn<QString>("outcome");  // registration=outcome in the JSON report
        QTest::addColumn<QString>("json");     // a part of the JSON report
        const QStringList checkOnly{QStringLiteral("--check-only"), QStringLiteral("--json")};
        const QStringList accept{QStringLiteral("--accept"), QStringLiteral("--json")};
        const QString notStarted =
            QStringLiteral("Das Installationsprogramm \"%SUITE%VorlandtUpdate.exe\" lässt sich nicht starten: ");
        // clang-format off
        QTest::newRow("all checked, updates pending") << "allGood" << checkOnly << 4 << QString()
            << "Kasse=updates-offered" << "\"result\": \"updates-pending\"";
        QTest::newRow("signature missing") << "signed" << checkOnly << 5
            << "Nicht geprüft: Vorlandt Buchhaltung (update_42_12.xml): Signatur fehlt"
            << "Buchhaltung=signature-refused" << "\"result\": \"incomplete\"";
        QTest::newRow("descriptor changed after signing, beside pending updates") << "tampered" << checkOnly << 5
            << "Nicht geprüft: KTVO Kasse (update_7_5.xml): Signatur ungültig"
            << "Kasse=signature-refused" << "\"result\": \"updates-pending\"";
        QTest::newRow("unclosed tag") << "unclosedTag" << checkOnly << 5
            << "Nicht geprüft: KTVO Kasse (update_7_5.xml): Start- und End-Tag passen nicht zusammen (Zeile 2)"
            << "Kasse=descriptor-malformed" << "\"file\": \"update_7_5.xml\"";
        QTest::newRow("no declaration, not UTF-8") << "notUtf8" << checkOnly << 5
            << "Nicht geprüft: KTVO Kasse (update_7_5.xml): Die Datei enthält Zeichen, die in UTF-8 ungültig sind (keine Kodierung angegeben)"
            << "Kasse=descriptor-malformed" << "\"result\": \"updates-pending\"";
        QTest::newRow("cancelled") << "cancelled" << QStringList{QStringLiteral("--json")} << 143
            << "Updatesuche abgebrochen." << "Kasse=not-checked" << "\"reason\": \"Suche abgebrochen\"";
        QTest::newRow("installer missing") << "noInstaller" << accept << 3
            << notStarted + "No such file or directory." << "Kasse=updates-offered"
            << "\"reason\": \"No such file or directory\"";
        QTest::newRow("installer not executable") << "installerNotExecutable" << accept << 3
            << notStarted + "Permission denied." << "Kasse=updates-offered" << "\"started\": false";
        // clang-format on
    }

    void outcomesTellAScriptWhatHappened()
    {
        QFETCH(QString, situation);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(QString, outcome);
        QFETCH(QString, json);
        err.replace(QStringLiteral("%SUITE%"), SuiteDir());
        // The server's copy of the descriptors, to damage and sign; Lohn's malformed one left out.
        const QString www = Path(QStringLiteral("www"));
        for (const QString& file : {QStringLiteral("news.xml"), QStringLiteral("Modul_42/update_42_12.xml"),
                                    QStringLiteral("Modul_7/update_7_5.xml")}) {
            QVERIFY(QDir().mkpath(QFileInfo(www + u'/' + file).path()));
            QVERIFY(QFile::copy(QFINDTESTDATA(QStringLiteral("www/") + file), www + u'/' + file));
        }
        WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("Lohn"),
                          SettingsKeys::ModuleDisabledRun, 1);
        const QString kasse = www + QStringLiteral("/Modul_7/update_7_5.xml");
        if (situation == u"unclosedTag")
            QVERIFY(WriteFile(kasse, "<?xml version=\"1.0\"?>\n<modul><version nr=\"2\">\n"));
        if (situation == u"notUtf8")
            QVERIFY(WriteFile(kasse, ReadFile(kasse).replace("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "")
                                         .replace("Gutscheine", "Gutscheine f\xFCr alle")));
        if (situation == u"signed" || situation == u"tampered") {
            const TTestKey key('e');
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                             key.PublicBase64());
            if (situation == u"tampered") {
                for (const QString& file : {kasse, www + QStringLiteral("/Modul_42/update_42_12.xml")})
                    QVERIFY(WriteFile(file + QStringLiteral(".sig"),
                                      key.SignatureFile(ReadFile(file), QFileInfo(file).fileName())));
                QVERIFY(WriteFile(kasse, ReadFile(kasse).replace("Gutscheine", "Gutscheinz")));
            }
        }
        if (situation == u"noInstaller")
            QVERIFY(QFile::remove(Installer()));
        if (situation == u"installerNotExecutable") {
            QVERIFY(QFile::remove(Installer()));
            QVERIFY(WriteFile(Installer(), "#!/bin/sh\nexit 0\n"));
            QVERIFY(QFile::setPermissions(Installer(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        }
        if (!FPkiError.isEmpty())
            QSKIP(qPrintable(FPkiError));
        FServer = std::make_unique<TTestHttpsServer>();
        const QString started = FServer->Start(FPki.ServerCert, FPki.ServerKey, www);
        QVERIFY2(started.isEmpty(), qPrintable(started));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         situation == u"cancelled"
                             ? FServer->Url(QStringLiteral("/slow?seconds=600&bytes=1200&rest="))
                             : FServer->Url(QStringLiteral("/")));

        TRun run;
        if (situation == u"cancelled") {
            QProcess process;
            Prepare(process);
            process.start(UpdateCheck(), arguments);
            QVERIFY(process.waitForStarted(30000));
            QTRY_VERIFY_WITH_TIMEOUT(!FServer->Requests().isEmpty(), 30000);
            QTest::qWait(300);
            QCOMPARE(::kill(static_cast<pid_t>(process.processId()), SIGTERM), 0);
            QVERIFY(process.waitForFinished(10000));
            run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
            run.out = QString::fromUtf8(process.readAllStandardOutput());
            run.err = QString::fromUtf8(process.readAllStandardError());
        } else {
            run = Run(UpdateCheck(), arguments);
        }

        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        if (!err.isEmpty())
            QVERIFY2(run.err.split(u'\n').contains(err), qPrintable(run.err));
        else
            QVERIFY2(!run.err.contains(QStringLiteral("Nicht geprüft")), qPrintable(run.err));
        QVERIFY2(run.out.contains(json), qPrintable(run.out));
        QJsonParseError error{};
        const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(run.out));
        QCOMPARE(report.value(QStringLiteral("exitStatus")).toInt(), exitCode);
        QStringList outcomes;
        for (const QJsonValue& module : report.value(QStringLiteral("modules")).toArray())
            outcomes << module[QStringLiteral("registration")].toString() + u'=' +
                            module[QStringLiteral("outcome")].toString();
        QVERIFY2(outcomes.contains(outcome), qPrintable(outcomes.join(u' ')));
        QVERIFY2(outcomes.contains(QStringLiteral("Lohn=skipped")), qPrintable(outcomes.join(u' ')));
        // Whatever went wrong, nothing claims the software is up to date.
        QVERIFY2(!run.err.contains(QStringLiteral("auf dem neuesten Stand")), qPrintable(run.err));
    }

    void declinedUpdatesLeaveNoJobAndInstallNothing()
    {
        StartServer();

        // Lohn's malformed descriptor makes the search incomplete; the answer is the same.
        const TRun run = CheckForUpdates({});
        QCOMPARE(run.exitCode, 5);
        QVERIFY2(run.out.endsWith(QStringLiteral("Keine Updates durchführen\n")), qPrintable(run.out));
        QVERIFY(!QFile::exists(JobFile()));
        QVERIFY(!QFile::exists(UserLog()));
        QVERIFY(!QFile::exists(SiteInfo("Lohn", 9)));
        QCOMPARE(ReadFile(SiteInfo("Kasse", 7)),
                 QByteArray("hauptversion=5\r\nnebenversion=1\r\nunterversion=0\r\n"));
        // The entries are written before the person decides and stay until a later search
        // replaces them: an installer started another day still finds each update's text.
        QCOMPARE(ReadFile(TempDir() + QStringLiteral("VL_UpdateTXT_7_5_2_0.tmp")), QByteArray("Gutscheine\r\n"));
    }

    // ---- the demo installer alone -----------------------------------------------------------

    void damagedJobFileChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("jobFile");  // "@" stands for the temporary folder
        QTest::addColumn<QString>("message");     // part of the message on stderr

        const QByteArray good = "6;@update_42_12.xml;42;12;3;2;-;-;Vorlandt Buchhaltung\r\n";
        // clang-format off
        QTest::newRow("too few fields")
            << QByteArray("6;@update_42_12.xml;42;12;3;2\r\n") << "Zeile 1: 6 statt 9 Felder.";
        QTest::newRow("another job format")
            << QByteArray("7;@update_42_12.xml;42;12;3;2;-;-;B\r\n") << "Auftragsformat \"7\"";
        QTest::newRow("a version that is no number")
            << QByteArray("6;@update_42_12.xml;42;12;drei;2;-;-;B\r\n") << "Nebenversion \"drei\" ist keine ganze Zahl.";
        QTest::newRow("a number beyond 32 bits")
            << QByteArray("6;@update_42_12.xml;4294967338;12;3;2;-;-;B\r\n") << "Modulnummer \"4294967338\"";
        QTest::newRow("a hexadecimal number")
            << QByteArray("6;@update_42_12.xml;0x2a;12;3;2;-;-;B\r\n") << "Modulnummer \"0x2a\"";
        QTest::newRow("an unknown silent flag")
            << QByteArray("6;@update_42_12.xml;42;12;3;2;x;-;B\r\n") << "Kennzeichen \"x\"";
        QTest::newRow("good line, then an empty line: not even the good one")
            << good + "\r\n" + good << "Zeile 2: Die Zeile ist leer.";
        QTest::newRow("good line, then a cut one: not even the good one")
            << good + "6;@update_42_12.xml;42;1" << "Zeile 2: 4 statt 9 Felder.";
        QTest::newRow("descriptor missing")
            << QByteArray("6;@update_1_1.xml;42;12;3;2;-;-;B\r\n") << "update_1_1.xml\" kann nicht gelesen werden";
        QTest::newRow("descriptor that is no XML")
            << QByteArray("6;@kaputt.xml;42;12;3;2;-;-;B\r\n") << "ist kein gültiges XML";
        QTest::newRow("descriptor without this update")
            << QByteArray("6;@update_42_12.xml;42;12;3;9;-;-;B\r\n") << "enthält dieses Update nicht.";
        QTest::newRow("module folder not registered")
            << QByteArray("6;@ohne_ordner.xml;42;12;3;2;-;-;B\r\n")
            << "Keine Verzeichnisangabe am angegebenen Registry-Pfad gefunden.";
        QTest::newRow("good line, then one whose module folder is gone: not even the good one")
            << good + "6;@weg.xml;42;12;3;2;-;-;B\r\n" << "Das Installationsverzeichnis";
        QTest::newRow("no job file") << QByteArray() << "VL_Update_Jobfile.vuj\" kann nicht gelesen werden";
        // clang-format on
    }

    void damagedJobFileChangesNothing()
    {
        QFETCH(QByteArray, jobFile);
        QFETCH(QString, message);

        QVERIFY(QFile::copy(QFINDTESTDATA("www/Modul_42/update_42_12.xml"), DescriptorPath(42, 12)));
        QVERIFY(WriteFile(TempDir() + QStringLiteral("kaputt.xml"), "<modul><version nr=\"3\">"));
        QVERIFY(
            WriteFile(TempDir() + QStringLiteral("ohne_ordner.xml"),
                      "<m verzeichnis_reg_rootkey=\"{HKLM}\" verzeichnis_reg_key=\"Software\\Fehlt\" "
                      "verzeichnis_reg_name=\"Pfad\"><v nr=\"3\"><u nr=\"2\"><beschreibung/></u></v></m>"));
        WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Weg"), SettingsKeys::Pfad,
                         Path(QStringLiteral("weg/")));
        QVERIFY(
            WriteFile(TempDir() + QStringLiteral("weg.xml"),
                      "<m verzeichnis_reg_rootkey=\"{HKLM}\" verzeichnis_reg_key=\"Software\\Weg\" "
                      "verzeichnis_reg_name=\"Pfad\"><v nr=\"3\"><u nr=\"2\"><beschreibung/></u></v></m>"));
        if (!jobFile.isNull())
            QVERIFY(WriteFile(JobFile(), jobFile.replace('@', Cp1252(TempDir()))));
        const QByteArray oldLog =
            Cp1252(LogEntry(QStringLiteral("Alt"), QStringLiteral("1.0.0"), QStringLiteral("früher")));
        QVERIFY(WriteFile(UserLog(), oldLog));
        const QByteArray siteInfo = ReadFile(SiteInfo("Buchhaltung", 42));

        const TRun run = Run(Installer(), {QStringLiteral("-DoUpdateJobs")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("VorlandtUpdate: ")), qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(ReadFile(UserLog()), oldLog);
        QCOMPARE(ReadFile(SiteInfo("Buchhaltung", 42)), siteInfo);
    }

    // The job file says what to install: one the user did not write alone is never carried out.
    void installerRefusesAJobFileNotItsOwn_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a link to a good job file") << "link"
                                                   << "Sie ist ein symbolischer Link.";
        QTest::newRow("writable by the group") << "group"
                                               << "Andere Benutzer dürfen sie ändern (Rechte 0660).";
        QTest::newRow("a second name") << "hardlink"
                                       << "Sie hat 2 Namen (harte Links).";
        QTest::newRow("owned by another user") << "foreign"
                                               << "Sie gehört einem anderen Benutzer (UID 64002).";
    }

    void installerRefusesAJobFileNotItsOwn()
    {
        QFETCH(QString, what);
        QFETCH(QString, reason);
        if (what == u"foreign" && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        QVERIFY(QFile::copy(QFINDTESTDATA("www/Modul_42/update_42_12.xml"), DescriptorPath(42, 12)));
        const QByteArray job =
            Cp1252(QStringLiteral("6;%1;42;12;3;2;-;-;Vorlandt Buchhaltung\r\n").arg(DescriptorPath(42, 12)));
        const QString elsewhere = Path(QStringLiteral("anderswo.vuj"));
        QVERIFY(WriteFile(what == u"link" || what == u"hardlink" ? elsewhere : JobFile(), job));
        const QByteArray native = QFile::encodeName(JobFile());
        if (what == u"link")
            QVERIFY(QFile::link(elsewhere, JobFile()));
        if (what == u"hardlink")
            QCOMPARE(::link(QFile::encodeName(elsewhere).constData(), native.constData()), 0);
        if (what == u"group")
            QCOMPARE(::chmod(native.constData(), 0660), 0);
        if (what == u"foreign")
            QCOMPARE(::chown(native.constData(), 64002, 64002), 0);
        const QByteArray siteInfo = ReadFile(SiteInfo("Buchhaltung", 42));

        const TRun run = Run(Installer(), {QStringLiteral("-DoUpdateJobs")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("VorlandtUpdate: Die Datei \"%1\" kann nicht gelesen werden: %2\n")
                              .arg(JobFile(), reason));
        QCOMPARE(ReadFile(SiteInfo("Buchhaltung", 42)), siteInfo);
        QVERIFY(!QFileInfo::exists(UserLog()));
    }

    void installerRaisesVersionFileKeepingItsOtherLines_data()
    {
        QTest::addColumn<QByteArray>("before");  // empty: no file
        QTest::addColumn<QString>("version");    // of the job: "12.3.2"
        QTest::addColumn<QByteArray>("after");

        const QByteArray utf8Bom("\xEF\xBB\xBF");
        // clang-format off
        QTest::newRow("no file yet")
            << QByteArray() << "12.3.2"
            << QByteArray("hauptversion=12\r\nnebenversion=3\r\nunterversion=2\r\n");
        QTest::newRow("keys keep their spelling, other lines and LF ends become CR LF")
            << QByteArray("[Version]\nHauptversion=12\nname=Buchhaltung\nNEBENVERSION=3\nunterversion=1\n")
            << "12.3.2"
            << QByteArray("[Version]\r\nHauptversion=12\r\nname=Buchhaltung\r\nNEBENVERSION=3\r\nunterversion=2\r\n");
        QTest::newRow("a key with a blank before = is no key")
            << QByteArray("nebenversion =9\r\n") << "12.3.2"
            << QByteArray("nebenversion =9\r\nhauptversion=12\r\nnebenversion=3\r\nunterversion=2\r\n");
        QTest::newRow("UTF-8 with byte-order mark stays UTF-8")
            << utf8Bom + "ort=Müller\r\nnebenversion=3\r\n" << "12.3.2"
            << utf8Bom + "ort=Müller\r\nnebenversion=3\r\nhauptversion=12\r\nunterversion=2\r\n";
        QTest::newRow("a later installed version is not turned back")
            << QByteArray("hauptversion=12\r\nnebenversion=4\r\nunterversion=0\r\n") << "12.3.2"
            << QByteArray("hauptversion=12\r\nnebenversion=4\r\nunterversion=0\r\n");
        // clang-format on
    }

    void installerRaisesVersionFileKeepingItsOtherLines()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, version);
        QFETCH(QByteArray, after);

        QFile::remove(SiteInfo("Buchhaltung", 42));
        if (!before.isEmpty())
            QVERIFY(WriteFile(SiteInfo("Buchhaltung", 42), before));
        QVERIFY(QFile::copy(QFINDTESTDATA("www/Modul_42/update_42_12.xml"), DescriptorPath(42, 12)));
        const QStringList v = version.split(u'.');
        QVERIFY(WriteFile(JobFile(), Cp1252(QStringLiteral("6;%1;42;%2;%3;%4;-;-;Vorlandt Buchhaltung\r\n")
                                                .arg(DescriptorPath(42, 12), v[0], v[1], v[2]))));

        const TRun run = Run(Installer(), {QStringLiteral("-DoUpdateJobs")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(ReadFile(SiteInfo("Buchhaltung", 42)), after);
        // Installed all the same, so the log names it.
        QVERIFY(ReadFile(UserLog()).contains("Version: " + version.toLatin1() + "\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endToEnd.moc"
