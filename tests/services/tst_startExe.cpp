// Starting programs and opening documents: waiting with the event loop alive, detached starts,
// what goes to the front end instead, the working folder, and the two log lines of every call.
#include "core/services/BasicProcs.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/FrontEndFixture.h"
#include "support/PrivateStores.h"
#include "support/ScriptedFrontEnd.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Writes, into its working folder, where it ran, how many arguments it got and the first two.
const QByteArray kReportingScript =
    "#!/bin/sh\n"
    "sleep \"${VORLANDT_TEST_SLEEP:-0}\"\n"
    "printf '%s\\n' \"$(pwd -P)\" \"$#\" \"$1\" \"$2\" > ergebnis.part\n"
    "mv ergebnis.part ergebnis.txt\n"
    "exit 3\n";

QStringList StartExeLines(const QString& file, const QString& parameters, bool wait, bool result)
{
    const auto boolText = [](bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); };
    return {QStringLiteral("StartEXE - Start - Parameters: (Handle), %1, %2, %3")
                .arg(file, parameters, boolText(wait)),
            QStringLiteral("StartEXE - Ende - Result: ") + boolText(result)};
}

}  // namespace

class TestStartExe : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TPrivateStores> FStores;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;

    QString Path(const QString& name) const { return FStores->FilePath(name); }

    QString WriteFile(const QString& name, const QByteArray& bytes, bool executable)
    {
        const QString path = Path(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write fixture %s", qPrintable(path));
        file.close();
        if (executable)
            file.setPermissions(file.permissions() | QFile::ExeOwner);
        return path;
    }

    QStringList ScriptReport(const QString& folder)
    {
        QFile report(QDir(folder).filePath(QStringLiteral("ergebnis.txt")));
        if (!report.open(QIODevice::ReadOnly))
            return {QStringLiteral("<no report>")};
        return QString::fromUtf8(report.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
        qunsetenv("VORLANDT_TEST_SLEEP");
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::None);
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup()
    {
        QVERIFY(FFrontEnd->Messages().isEmpty());
        WriteLog(TLogAction::DiscardBuffer, QString());
        FFrontEnd.reset();
        FStores.reset();
    }

    void waitingReturnsAfterTheProgramEndedWhileEventsFlow()
    {
        const QString folder = Path(QStringLiteral("mit Leerzeichen"));
        const QString script =
            WriteFile(QStringLiteral("mit Leerzeichen/bericht.sh"), kReportingScript, true);
        const QString parameters = QStringLiteral("\"zwei Worte\" drei");
        qputenv("VORLANDT_TEST_SLEEP", "0.3");
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start(20);

        const bool started = StartEXE(nullptr, script, parameters, true);

        QVERIFY(started);
        // The report is there at once: the call came back only after the program had ended.
        const QStringList expected{QDir(folder).canonicalPath(), QStringLiteral("2"),
                                   QStringLiteral("zwei Worte"), QStringLiteral("drei")};
        QCOMPARE(ScriptReport(folder), expected);
        QVERIFY2(ticks > 0, "the caller's timer never fired during the wait");
        QVERIFY(FFrontEnd->OpenedDocuments().isEmpty());
        QCOMPARE(LogBuffer(), std::optional(StartExeLines(script, parameters, true, true)));
    }

    void executableStartsDirectlyWithoutWaiting()
    {
        const QString folder = Path(QStringLiteral("bin"));
        const QString script = WriteFile(QStringLiteral("bin/bericht.sh"), kReportingScript, true);

        QVERIFY(StartEXE(nullptr, script, QStringLiteral("-a"), false));

        QTRY_VERIFY(QFile::exists(QDir(folder).filePath(QStringLiteral("ergebnis.txt"))));
        const QStringList expected{QDir(folder).canonicalPath(), QStringLiteral("1"), QStringLiteral("-a")};
        QCOMPARE(ScriptReport(folder), expected);
        QVERIFY(FFrontEnd->OpenedDocuments().isEmpty());
        QCOMPARE(LogBuffer(), std::optional(StartExeLines(script, QStringLiteral("-a"), false, true)));
    }

    void relativeNameCountsFromCurrentFolder()
    {
        // Left to itself, QProcess would look a bare name up along PATH only and miss this one.
        WriteFile(QStringLiteral("bericht.sh"), kReportingScript, true);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(FStores->Path()));
        const bool started = StartEXE(nullptr, QStringLiteral("bericht.sh"), QString(), true);
        QDir::setCurrent(previous);
        QVERIFY(started);
        QCOMPARE(ScriptReport(FStores->Path()).value(0), QDir(FStores->Path()).canonicalPath());
    }

    void documentsAndAddressesGoToTheFrontEnd_data()
    {
        QTest::addColumn<QString>("target");  // "@" stands for the test folder
        QTest::addColumn<bool>("accepted");
        // clang-format off
        QTest::newRow("web address") << "https://www.vorlandt.de/lizenz.html" << true;
        QTest::newRow("mail address") << "mailto:support@vorlandt.de" << true;
        QTest::newRow("document") << "@/liesmich.txt" << true;
        QTest::newRow("folder") << "@/ordner" << true;
        QTest::newRow("a Windows program is a document here") << "@/VorlandtUpdate.exe" << true;
        QTest::newRow("desktop refuses the address") << "https://www.vorlandt.de/" << false;
        // clang-format on
    }

    void documentsAndAddressesGoToTheFrontEnd()
    {
        QFETCH(QString, target);
        QFETCH(bool, accepted);
        WriteFile(QStringLiteral("liesmich.txt"), "Hallo", false);
        WriteFile(QStringLiteral("VorlandtUpdate.exe"), "MZ", false);
        QVERIFY(QDir().mkpath(Path(QStringLiteral("ordner"))));
        target.replace(QStringLiteral("@"), FStores->Path());
        FFrontEnd->SetOpenDocumentResult(accepted);

        QCOMPARE(StartEXE(nullptr, target, QStringLiteral("-x"), false), accepted);

        QCOMPARE(FFrontEnd->OpenedDocuments(), QStringList{target});
        QCOMPARE(LogBuffer(), std::optional(StartExeLines(target, QStringLiteral("-x"), false, accepted)));
    }

    void failsWhenNothingCanBeStarted_data()
    {
        QTest::addColumn<QString>("target");  // "@" stands for the test folder
        QTest::addColumn<bool>("wait");
        // clang-format off
        QTest::newRow("missing file, waiting") << "@/fehlt.sh" << true;
        QTest::newRow("missing file, not waiting") << "@/fehlt.sh" << false;
        QTest::newRow("empty name, not waiting") << "" << false;
        QTest::newRow("document, waiting") << "@/liesmich.txt" << true;
        QTest::newRow("folder, waiting") << "@/ordner" << true;
        QTest::newRow("web address, waiting") << "https://www.vorlandt.de/" << true;
        // clang-format on
    }

    void failsWhenNothingCanBeStarted()
    {
        QFETCH(QString, target);
        QFETCH(bool, wait);
        WriteFile(QStringLiteral("liesmich.txt"), "Hallo", false);
        QVERIFY(QDir().mkpath(Path(QStringLiteral("ordner"))));
        target.replace(QStringLiteral("@"), FStores->Path());

        QVERIFY(!StartEXE(nullptr, target, QString(), wait));

        QVERIFY(FFrontEnd->OpenedDocuments().isEmpty());
        QCOMPARE(LogBuffer(), std::optional(StartExeLines(target, QString(), wait, false)));
    }

    void workingDirIsTheNameUpToItsLastSeparator_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        // clang-format off
        QTest::newRow("absolute path") << "/opt/krsoftware/VorlandtUpdate" << "/opt/krsoftware/";
        QTest::newRow("file in the root") << "/VorlandtUpdate" << "/";
        QTest::newRow("relative path") << "bin/prog" << "bin/";
        QTest::newRow("bare name") << "prog" << "";
        QTest::newRow("Windows path") << "c:\\Programme\\KRSoftware\\VorlandtUpdate.exe" << "c:\\Programme\\KRSoftware\\";
        QTest::newRow("drive only") << "c:prog.exe" << "c:";
        QTest::newRow("mixed separators, last wins") << "/opt/a\\b/c" << "/opt/a\\b/";
        QTest::newRow("web address") << "https://www.vorlandt.de/lizenz.html" << "https://www.vorlandt.de/";
        QTest::newRow("mail address") << "mailto:support@vorlandt.de" << "mailto:";
        QTest::newRow("folder name ending in separator") << "/opt/krsoftware/" << "/opt/krsoftware/";
        QTest::newRow("empty") << "" << "";
        // clang-format on
    }

    void workingDirIsTheNameUpToItsLastSeparator()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QCOMPARE(StartEXEWorkingDir(file), folder);
    }
};

QTEST_GUILESS_MAIN(TestStartExe)
#include "tst_startExe.moc"
