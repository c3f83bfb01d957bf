// The installed-updates window: its layout and texts, what it shows for a missing, empty,
// filled or unreadable log, how it follows resizing, where it appears and how it closes.
#include "gui/frmUserLog.h"
#include "support/FrontEndFixture.h"
#include "support/PrivateStores.h"
#include "support/ScriptedFrontEnd.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <memory>

namespace {

const QString InitialText = QStringLiteral("Keine Updates seit Anlage dieses Dokumentes durchgeführt.");

}  // namespace

class TestFrmUserLog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TPrivateStores> FStores;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;

    QString LogPath() const
    {
        return FStores->FilePath(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0/VL_Userlog.txt"));
    }

    void WriteLogFile(const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(LogPath()).path());
        QFile file(LogPath());
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write fixture %s", qPrintable(LogPath()));
    }

private Q_SLOTS:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
        qputenv("TMPDIR", QFile::encodeName(FStores->Path()));
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::None);
    }

    void cleanup()
    {
        FFrontEnd.reset();
        FStores.reset();
    }

    void windowHasItsCaptionsFontsAndLayout()
    {
        TfrmUserLog form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Installierte Updates"));
        QCOMPARE(form.windowFlags() & (Qt::WindowType_Mask | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
                 Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        QCOMPARE(form.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(form.font().pointSize(), 8);
        QCOMPARE(form.size(), QSize(751, 604));

        QCOMPARE(form.memoUserLog->geometry(), QRect(8, 8, 622, 588));
        QVERIFY(form.memoUserLog->isReadOnly());
        QCOMPARE(form.memoUserLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(form.memoUserLog->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(form.memoUserLog->font().pointSize(), 10);
        QCOMPARE(form.memoUserLog->toPlainText(), InitialText);

        // "Schließen", its access key marked.
        QCOMPARE(form.bkSchliessen->text(), QStringLiteral("&Schließen"));
        QCOMPARE(form.bkSchliessen->geometry(), QRect(636, 571, 107, 25));
        QCOMPARE(form.bkSchliessen->maximumHeight(), 25);
        QVERIFY(form.bkSchliessen->isDefault());
    }

    void showingFillsTheMemoOnlyFromALogWithContent_data()
    {
        QTest::addColumn<QByteArray>("log");  // "<missing>": no file
        QTest::addColumn<QString>("shown");

        QTest::newRow("no log") << QByteArray("<missing>") << InitialText;
        QTest::newRow("empty log") << QByteArray() << InitialText;
        QTest::newRow("log with two entries")
            << QByteArray(
                   "=======================\r\nInstallationsdatum: 09.12.2026\r\nModul: Kasse\r\n"
                   "Version: 5.3.7\r\n=======================\r\nGr\xF6\xDF"
                   "ere Schrift\r\n\r\n\r\n"
                   "=======================\r\n")
            << QStringLiteral(
                   "=======================\nInstallationsdatum: 09.12.2026\nModul: Kasse\n"
                   "Version: 5.3.7\n=======================\nGrößere Schrift\n\n\n"
                   "=======================");
    }

    void showingFillsTheMemoOnlyFromALogWithContent()
    {
        QFETCH(QByteArray, log);
        QFETCH(QString, shown);
        if (log != "<missing>")
            WriteLogFile(log);

        TfrmUserLog form;
        form.show();
        QCOMPARE(form.memoUserLog->toPlainText(), shown);
        form.close();
    }

    void everyShowingReadsTheLogAfresh()
    {
        TfrmUserLog form;
        form.show();
        form.hide();
        WriteLogFile("Erster Eintrag\r\n");
        form.show();
        QCOMPARE(form.memoUserLog->toPlainText(), QStringLiteral("Erster Eintrag"));
        form.hide();
        // Emptied meanwhile: what was shown stays.
        WriteLogFile(QByteArray());
        form.show();
        QCOMPARE(form.memoUserLog->toPlainText(), QStringLiteral("Erster Eintrag"));
    }

    void unreadableLogIsReportedAndTheMemoKept()
    {
        QVERIFY(QDir().mkpath(LogPath()));
        TfrmUserLog form;
        form.show();
        QTRY_COMPARE(FFrontEnd->Messages().size(), 1);
        QCOMPARE(FFrontEnd->Messages().first().type, TMsgDlgType::mtError);
        QVERIFY(FFrontEnd->Messages().first().text.contains(LogPath()));
        QCOMPARE(form.memoUserLog->toPlainText(), InitialText);
        FFrontEnd->Answer({mrOk});
    }

    void closeButtonAcceptsTheWindow()
    {
        TfrmUserLog form;
        form.show();
        QTest::mouseClick(form.bkSchliessen, Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    void memoAndButtonFollowResizing_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("memo");
        QTest::addColumn<QRect>("button");

        QTest::newRow("larger") << QSize(951, 804) << QRect(8, 8, 822, 788) << QRect(836, 771, 107, 25);
        QTest::newRow("smaller") << QSize(551, 404) << QRect(8, 8, 422, 388) << QRect(436, 371, 107, 25);
    }

    void memoAndButtonFollowResizing()
    {
        QFETCH(QSize, client);
        QFETCH(QRect, memo);
        QFETCH(QRect, button);
        TfrmUserLog form;
        form.show();
        form.resize(client);
        QCOMPARE(form.memoUserLog->geometry(), memo);
        QCOMPARE(form.bkSchliessen->geometry(), button);
    }

    void windowAppearsCentredOverItsParent()
    {
        QWidget owner;
        owner.setGeometry(30, 40, 760, 700);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        TfrmUserLog form(&owner);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.frameGeometry().center(), owner.frameGeometry().center());
        form.hide();

        // Shown again after the owner moved: centred over its new place.
        owner.move(0, 0);
        form.show();
        QCOMPARE(form.frameGeometry().center(), owner.frameGeometry().center());
        form.hide();

        // Over an owner near the screen's edge the window keeps to the screen, title bar and all.
        owner.move(300, 350);
        form.show();
        QVERIFY(form.screen()->availableGeometry().contains(form.frameGeometry()));
    }
};

QTEST_MAIN(TestFrmUserLog)
#include "tst_frmUserLog.moc"
