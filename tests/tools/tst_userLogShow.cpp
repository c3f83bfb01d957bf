// vorlandt-userlog show as support staff and scripts run it: the installed-updates log as the
// window shows it, newest entry first, or as JSON; it only reads.
#include "support/PrivateStores.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// Two entries as the writer lays them out, the newer first; Windows-1252 like the shared log.
const QByteArray TwoEntries =
    "=======================\r\nInstallationsdatum: 09.12.2026\r\nModul: Kasse\r\nVersion: 5.2.0\r\n"
    "=======================\r\nGutscheine\r\nf\xFCr alle\r\n\r\n\r\n"
    "=======================\r\nInstallationsdatum: 01.12.2026\r\nModul: Lohn\r\nVersion: 1.1.1\r\n"
    "=======================\r\n\r\n\r\n\r\n";

}  // namespace

class TestUserLogShow : public QObject {
    Q_OBJECT

    std::unique_ptr<TPrivateStores> FStores;

    QString LogFile() const
    {
        return FStores->ProgramData() + QStringLiteral("/Vorlandt/OnlineUpdater/1.0/VL_Userlog.txt");
    }

private slots:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
    }
    void cleanup() { FStores.reset(); }

    void showPrintsTheLog_data()
    {
        QTest::addColumn<QByteArray>("log");  // empty: no log
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("out");
        // clang-format off
        QTest::newRow("no log yet") << QByteArray() << QStringList{"show"}
            << QByteArray("Keine Updates seit Anlage dieses Dokumentes durchgeführt.\n");
        QTest::newRow("newest first, as the window shows it") << TwoEntries << QStringList{"show"}
            << QByteArray("=======================\nInstallationsdatum: 09.12.2026\nModul: Kasse\nVersion: 5.2.0\n"
                          "=======================\nGutscheine\nfür alle\n\n\n"
                          "=======================\nInstallationsdatum: 01.12.2026\nModul: Lohn\nVersion: 1.1.1\n"
                          "=======================\n\n\n\n");
        QTest::newRow("an escape sequence never reaches the terminal")
            << QByteArray("=======================\r\nInstallationsdatum: 09.12.2026\r\nModul: \x1b[2JKasse\r\n"
                          "Version: 5.2.0\r\n=======================\r\n\r\n\r\n") << QStringList{"show"}
            << QByteArray("=======================\nInstallationsdatum: 09.12.2026\nModul: [2JKasse\n"
                          "Version: 5.2.0\n=======================\n\n\n");
        // clang-format on
    }

    void showPrintsTheLog()
    {
        QFETCH(QByteArray, log);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, out);
        if (!log.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(LogFile()).path()));
            QVERIFY(WriteFile(LogFile(), log));
        }

        const TToolRun run = RunTool(QStringLiteral(VORLANDT_USERLOG_EXE), arguments);

        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.out, out);
        if (!log.isEmpty())
            QCOMPARE(ReadFile(LogFile()), log);
    }

    void showJsonListsTheEntries()
    {
        QVERIFY(QDir().mkpath(QFileInfo(LogFile()).path()));
        QVERIFY(WriteFile(LogFile(), TwoEntries));

        const TToolRun run = RunTool(QStringLiteral(VORLANDT_USERLOG_EXE), {QStringLiteral("show"), QStringLiteral("--json")});

        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(report.value(QStringLiteral("log")).toString(), LogFile());
        const auto entry = [](const char* date, const char* module, const char* version, const QString& text) {
            return QJsonObject{{QStringLiteral("date"), QString::fromLatin1(date)},
                               {QStringLiteral("module"), QString::fromLatin1(module)},
                               {QStringLiteral("version"), QString::fromLatin1(version)},
                               {QStringLiteral("text"), text}};
        };
        QCOMPARE(report.value(QStringLiteral("entries")).toArray(),
                 QJsonArray({entry("09.12.2026", "Kasse", "5.2.0", QStringLiteral("Gutscheine\nfür alle")),
                             entry("01.12.2026", "Lohn", "1.1.1", QString())}));
    }

    void wrongCallsAreUsageErrors()
    {
        for (const QStringList& arguments : {QStringList{QStringLiteral("show"), QStringLiteral("--xml")},
                                             QStringList{QStringLiteral("show"), QStringLiteral("--json"),
                                                         QStringLiteral("mehr")}}) {
            const TToolRun run = RunTool(QStringLiteral(VORLANDT_USERLOG_EXE), arguments);
            QCOMPARE(run.exitCode, 2);
        }
    }
};

QTEST_GUILESS_MAIN(TestUserLogShow)
#include "tst_userLogShow.moc"
