// Starting the feedback tool from the suite's registered folder: what its start function
// receives, and the two error boxes when the library or its start function is missing.
#include "core/services/BasicProcs.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"
#include "support/ScriptedFrontEnd.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestFeedbackTool : public QObject {
    Q_OBJECT

private:
    TPrivateStores FStores;

    QByteArray Record() const
    {
        QFile record(FStores.FilePath(QStringLiteral("feedback.txt")));
        return record.open(QIODevice::ReadOnly) ? record.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FStores.IsValid());
        qputenv("VORLANDT_FEEDBACK_RECORD",
                QFile::encodeName(FStores.FilePath(QStringLiteral("feedback.txt"))));
    }

    void init()
    {
        QFile::remove(FStores.FilePath(QStringLiteral("feedback.txt")));
        QFile::remove(FStores.FilePath(QStringLiteral("machine.db")));
    }

    void startsFromTheRegisteredFolder_data()
    {
        QTest::addColumn<QString>("folder");  // null: nothing registered
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("received");
        const QString loadFailed = QStringLiteral("Feedbacktool.DLL konnte nicht geladen werden.");
        const QString noStart = QStringLiteral("Startfunktion konnte in DLL nicht gefunden werden.");
        // clang-format off
        QTest::newRow("library with start function") << FEEDBACK_WITH_START_DIR << QString() << QByteArray("Online-Updater|0\n");
        QTest::newRow("folder ending in a slash") << FEEDBACK_WITH_START_DIR "/" << QString() << QByteArray("Online-Updater|0\n");
        QTest::newRow("folder without the library") << FStores.Path() << loadFailed << QByteArray();
        QTest::newRow("folder that does not exist") << FStores.FilePath(QStringLiteral("fehlt")) << loadFailed << QByteArray();
        QTest::newRow("suite not registered") << QString() << loadFailed << QByteArray();
        QTest::newRow("library without start function") << FEEDBACK_WITHOUT_START_DIR << noStart << QByteArray();
        // clang-format on
    }

    void startsFromTheRegisteredFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, message);
        QFETCH(QByteArray, received);
        // Installers register the suite under "Module"; the lookup asks for "module".
        if (!folder.isNull())
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, folder);
        TScriptedFrontEnd script;
        if (!message.isEmpty())
            script.Answer({mrOk});
        TScopedFrontEnd installed(script);

        StartFeedbackTool();

        QCOMPARE(Record(), received);
        QList<TShownMessage> expected;
        if (!message.isEmpty())
            expected.append({message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0});
        QCOMPARE(script.Messages(), expected);
        QCOMPARE(script.PendingAnswers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFeedbackTool)
#include "tst_feedbackTool.moc"
