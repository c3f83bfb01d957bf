// The log-on start on Windows: the value "VorlandtUpdate" under the Run key, written with the
// quoted path and "-a" where reg.exe finds it, removed again, and left out while the value for
// every user starts the updater. Each test works below a key of its own that stands in for the
// roots.
#include "core/platform/desktop/AutostartEntry.h"
#include "core/platform/VorlandtError.h"
#include "support/ErrorOf.h"
#include "support/PrivateStores.h"

#include <QProcess>
#include <QTest>

#include <memory>

using namespace platform;

namespace {

struct TReg {
    int exitCode = -1;
    QString out;
};

TReg Reg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("reg.exe"), arguments);
    TReg result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    return result;
}

const QString Executable =
    QStringLiteral("C:\\Program Files\\Vorlandt\\OnlineUpdater\\VorlandtOnlineUpdater.exe");

}  // namespace

class TestAutostartEntryWin : public QObject {
    Q_OBJECT

    std::unique_ptr<TPrivateStores> FStores;  // keys below HKCU standing in for both roots

    QString runKey(const QString& root) const
    {
        return (root == u"user" ? FStores->UserStore() : FStores->MachineStore()) + u'\\' + AutostartRunKey;
    }

    // The value's type and text as `reg query` shows them; empty when it finds none.
    QString queried(const QString& root) const
    {
        const TReg reg =
            Reg({QStringLiteral("query"), runKey(root), QStringLiteral("/v"), AutostartValueName});
        if (reg.exitCode != 0)
            return QString();
        for (const QString& line : reg.out.split(QStringLiteral("\r\n"))) {
            const QString trimmed = line.trimmed();
            if (trimmed.startsWith(AutostartValueName + QStringLiteral("    ")))
                return trimmed.mid(AutostartValueName.size() + 4);
        }
        return QStringLiteral("<not in the output>");
    }

private slots:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
    }

    void cleanup() { FStores.reset(); }

    void ownValueIsWrittenAndRemoved()
    {
        QCOMPARE(AutostartState(), TAutostartState::None);
        // Removing what is not there, not even its key, is no error.
        QCOMPARE(ErrorOf([] { RemoveAutostartEntry(); }), QStringLiteral("<none>"));

        SetAutostart(true, Executable);
        QCOMPARE(queried(QStringLiteral("user")), QStringLiteral("REG_SZ    \"%1\" -a").arg(Executable));
        QVERIFY(AutostartEntryExists());
        QCOMPARE(AutostartState(), TAutostartState::Own);

        SetAutostart(false, Executable);
        QCOMPARE(queried(QStringLiteral("user")), QString());
        QVERIFY(!AutostartEntryExists());
        QCOMPARE(AutostartState(), TAutostartState::None);
        QCOMPARE(ErrorOf([] { RemoveAutostartEntry(); }), QStringLiteral("<none>"));
    }

    // Existence is what counts: a value someone else wrote, of whatever kind, is the entry.
    void anyValueOfTheNameIsTheEntry()
    {
        QCOMPARE(Reg({QStringLiteral("add"), runKey(QStringLiteral("user")), QStringLiteral("/v"),
                      AutostartValueName, QStringLiteral("/t"), QStringLiteral("REG_DWORD"),
                      QStringLiteral("/d"), QStringLiteral("1"), QStringLiteral("/f")})
                     .exitCode,
                 0);
        QVERIFY(AutostartEntryExists());
        RemoveAutostartEntry();
        QCOMPARE(queried(QStringLiteral("user")), QString());
    }

    void valueForEveryUserMakesTheOwnOneUnneeded()
    {
        SetAutostart(true, Executable);
        QCOMPARE(Reg({QStringLiteral("add"), runKey(QStringLiteral("machine")), QStringLiteral("/v"),
                      AutostartValueName, QStringLiteral("/d"), u'"' + Executable + QStringLiteral("\" -a"),
                      QStringLiteral("/f")})
                     .exitCode,
                 0);
        QCOMPARE(AutostartState(), TAutostartState::Own);
        SetAutostart(true, Executable);
        QCOMPARE(queried(QStringLiteral("user")), QString());
        QCOMPARE(AutostartState(), TAutostartState::System);
        SetAutostart(false, Executable);
        QCOMPARE(AutostartState(), TAutostartState::System);
        QVERIFY(!queried(QStringLiteral("machine")).isEmpty());
    }

    void pathThatNoCommandLineCanQuoteIsRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("quote") << QStringLiteral("C:\\a\"b\\x.exe");
        QTest::newRow("line break") << QStringLiteral("C:\\a\nb\\x.exe");
    }

    void pathThatNoCommandLineCanQuoteIsRefused()
    {
        QFETCH(QString, path);
        QVERIFY(ErrorOf([&] { SetAutostart(true, path); }).contains(QStringLiteral("Autostart-Eintrag")));
        QVERIFY(!AutostartEntryExists());
    }
};

QTEST_GUILESS_MAIN(TestAutostartEntryWin)
#include "tst_autostartEntryWin.moc"
