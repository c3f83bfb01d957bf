// The default front end (captions on stderr, default buttons, xdg-open) and handing the front end
// over and back.
#include "core/services/FrontEnd.h"
#include "support/ScriptedFrontEnd.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <unistd.h>

namespace {

// Collects what is written to stderr while it lives.
class TStderrCapture {
public:
    explicit TStderrCapture(const QString& path)
    {
        std::fflush(stderr);
        FSaved = ::dup(STDERR_FILENO);
        FFile = std::fopen(QFile::encodeName(path).constData(), "w+");
        if (FSaved < 0 || !FFile || ::dup2(::fileno(FFile), STDERR_FILENO) < 0)
            qFatal("cannot capture stderr");
    }
    ~TStderrCapture() { Release(); }
    TStderrCapture(const TStderrCapture&) = delete;
    TStderrCapture& operator=(const TStderrCapture&) = delete;

    QByteArray Release()
    {
        if (FSaved < 0)
            return FText;
        std::fflush(stderr);
        ::dup2(FSaved, STDERR_FILENO);
        ::close(FSaved);
        FSaved = -1;
        std::rewind(FFile);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, FFile)) > 0)
            FText.append(buffer, static_cast<qsizetype>(n));
        std::fclose(FFile);
        return FText;
    }

private:
    int FSaved = -1;
    std::FILE* FFile = nullptr;
    QByteArray FText;
};

}  // namespace

class TestFrontEnd : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    QByteArray FPath;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FPath = qgetenv("PATH");
    }

    void cleanup()
    {
        qputenv("PATH", FPath);
        SetFrontEnd(nullptr);
    }

    void defaultAnswersWithTheDefaultButton_data()
    {
        QTest::addColumn<TMsgDlgType>("type");
        QTest::addColumn<TMsgDlgButtons>("buttons");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<int>("code");
        // clang-format off
        QTest::newRow("warning, OK") << TMsgDlgType::mtWarning << TMsgDlgButtons::mbOK << QByteArray("Warnung: Text\n") << mrOk;
        QTest::newRow("error, OK") << TMsgDlgType::mtError << TMsgDlgButtons::mbOK << QByteArray("Fehler: Text\n") << mrOk;
        QTest::newRow("information, OK") << TMsgDlgType::mtInformation << TMsgDlgButtons::mbOK << QByteArray("Informationen: Text\n") << mrOk;
        QTest::newRow("confirmation, Yes/No") << TMsgDlgType::mtConfirmation << TMsgDlgButtons::mbYesNo << QByteArray("Best\xC3\xA4tigen: Text\n") << mrYes;
        QTest::newRow("warning, Abort/Retry") << TMsgDlgType::mtWarning << TMsgDlgButtons::mbAbortRetry << QByteArray("Warnung: Text\n") << mrRetry;
        // clang-format on
    }

    void defaultAnswersWithTheDefaultButton()
    {
        QFETCH(TMsgDlgType, type);
        QFETCH(TMsgDlgButtons, buttons);
        QFETCH(QByteArray, printed);
        QFETCH(int, code);
        TStderrCapture capture(FDir.filePath(QStringLiteral("stderr.txt")));
        const int answer = MessageDialog(QStringLiteral("Text"), type, buttons, 0);
        QCOMPARE(capture.Release(), printed);
        QCOMPARE(answer, code);
    }

    void defaultOpensDocumentsWithXdgOpen()
    {
        const QString bin = FDir.filePath(QStringLiteral("bin"));
        const QString record = FDir.filePath(QStringLiteral("geoeffnet.txt"));
        QVERIFY(QDir().mkpath(bin));
        QFile script(bin + QStringLiteral("/xdg-open"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + QFile::encodeName(record) + ".part\"\nmv \"" +
                     QFile::encodeName(record) + ".part\" \"" + QFile::encodeName(record) + "\"\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        qputenv("PATH", QFile::encodeName(bin) + ":/usr/bin:/bin");

        QVERIFY(FrontEnd().OpenDocument(QStringLiteral("https://www.vorlandt.de/")));
        QTRY_VERIFY(QFile::exists(record));
        QFile opened(record);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        QCOMPARE(opened.readAll(), QByteArray("https://www.vorlandt.de/\n"));
    }

    void defaultReportsMissingXdgOpen()
    {
        const QString empty = FDir.filePath(QStringLiteral("leer"));
        QVERIFY(QDir().mkpath(empty));
        qputenv("PATH", QFile::encodeName(empty));
        QVERIFY(!FrontEnd().OpenDocument(QStringLiteral("https://www.vorlandt.de/")));
    }

    void scopedFrontEndsNestAndRestore()
    {
        TFrontEnd* const defaultFrontEnd = &FrontEnd();
        TScriptedFrontEnd outer;
        TScriptedFrontEnd inner;
        {
            TScopedFrontEnd installOuter(outer);
            QCOMPARE(&FrontEnd(), &outer);
            {
                TScopedFrontEnd installInner(inner);
                QCOMPARE(&FrontEnd(), &inner);
            }
            QCOMPARE(&FrontEnd(), &outer);
        }
        QCOMPARE(&FrontEnd(), defaultFrontEnd);
    }

    void scriptAnswersInOrderAndRecordsSurprises()
    {
        TScriptedFrontEnd script{mrAbort, mrYes};
        TScopedFrontEnd installed(script);
        QCOMPARE(
            MessageDialog(QStringLiteral("eins"), TMsgDlgType::mtWarning, TMsgDlgButtons::mbAbortRetry, 0),
            mrAbort);
        QCOMPARE(
            MessageDialog(QStringLiteral("zwei"), TMsgDlgType::mtConfirmation, TMsgDlgButtons::mbYesNo, 7),
            mrYes);
        QTest::ignoreMessage(QtWarningMsg, "unexpected message box: drei");
        QCOMPARE(MessageDialog(QStringLiteral("drei"), TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0),
                 mrCancel);

        const QList<TShownMessage> shown{
            {QStringLiteral("eins"), TMsgDlgType::mtWarning, TMsgDlgButtons::mbAbortRetry, 0},
            {QStringLiteral("zwei"), TMsgDlgType::mtConfirmation, TMsgDlgButtons::mbYesNo, 7},
            {QStringLiteral("drei"), TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0},
        };
        QCOMPARE(script.Messages(), shown);
        QCOMPARE(script.Unanswered(), shown.mid(2));
        QCOMPARE(script.PendingAnswers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFrontEnd)
#include "tst_frontEnd.moc"
