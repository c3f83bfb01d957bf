// The information window: its layout, the message as shown, the ways it closes, how it grows
// for long messages and where it sits on screens of every size.
#include "gui/Information.h"
#include "support/ModalAnswer.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

namespace {

enum class TCloseBy { ButtonOK, ReturnKey, EscapeKey, WindowCloseButton };

// The text the settings dialog shows about the log files, with its LF CR line ends.
const QString LogLocationText = QStringLiteral(
    "Der VorlandtOnlineUpdater erzeugt beim Schließen der Anwendung, sowie beim Downloadprozess "
    "Log-Dateien.\n\rDie Log-Dateien sind unter folgendem Pfad zu finden:\n\r/opt/vorlandt/updater/");

}  // namespace

Q_DECLARE_METATYPE(TCloseBy)

class TestInformation : public QObject {
    Q_OBJECT

private slots:
    void windowHasItsCaptionFontAndLayout()
    {
        TInfo info;
        QCOMPARE(info.windowTitle(), QStringLiteral("Information"));
        QCOMPARE(info.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(info.font().pointSize(), 8);
        QCOMPARE(info.size(), QSize(603, 102));
        QCOMPARE(info.minimumSize(), info.maximumSize());
        QCOMPARE(info.Label1->geometry(), QRect(10, 10, 583, 47));
        QCOMPARE(info.Label1->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        QVERIFY(info.Label1->wordWrap());
        // "OK", its access key marked.
        QCOMPARE(info.ButtonOK->text(), QStringLiteral("&OK"));
        QCOMPARE(info.ButtonOK->geometry(), QRect(266, 70, 79, 25));
    }

    void showMessageShowsTextAndReturnsWhenClosed_data()
    {
        QTest::addColumn<TCloseBy>("closeBy");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");

        QTest::newRow("OK button") << TCloseBy::ButtonOK << "Kurz."
                                   << "Kurz.";
        QTest::newRow("Return key") << TCloseBy::ReturnKey << "Kurz."
                                    << "Kurz.";
        QTest::newRow("Escape key") << TCloseBy::EscapeKey << "Kurz."
                                    << "Kurz.";
        QTest::newRow("close button") << TCloseBy::WindowCloseButton << "Kurz."
                                      << "Kurz.";
        // LF CR would otherwise start the next line with a blank.
        QTest::newRow("log location with LF CR line ends")
            << TCloseBy::ButtonOK << LogLocationText
            << QString(LogLocationText).replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
        QTest::newRow("markup is shown as written") << TCloseBy::ButtonOK << "<i>/tmp/<x></i>"
                                                    << "<i>/tmp/<x></i>";
    }

    void showMessageShowsTextAndReturnsWhenClosed()
    {
        QFETCH(TCloseBy, closeBy);
        QFETCH(QString, message);
        QFETCH(QString, shown);

        TInfo info;
        QString labelWhileShown;
        TModalAnswer answer([&](QWidget* modal) {
            QCOMPARE(modal, &info);
            labelWhileShown = info.Label1->text();
            switch (closeBy) {
                case TCloseBy::ButtonOK:
                    QTest::mouseClick(info.ButtonOK, Qt::LeftButton);
                    break;
                case TCloseBy::ReturnKey:
                    QTest::keyClick(&info, Qt::Key_Return);
                    break;
                case TCloseBy::EscapeKey:
                    QTest::keyClick(&info, Qt::Key_Escape);
                    break;
                case TCloseBy::WindowCloseButton:
                    info.windowHandle()->close();
                    break;
            }
        });
        info.ShowMessage(message);

        QVERIFY(!answer.WatchdogFired());
        QVERIFY(!info.isVisible());
        QCOMPARE(labelWhileShown, shown);
        QCOMPARE(info.Label1->textFormat(), Qt::PlainText);
        QCOMPARE(info.MessageText(), message);
    }

    void longMessageGrowsWindowDownwardsWithinScreen_data()
    {
        QTest::addColumn<QString>("message");

        QTest::newRow("six lines") << QStringLiteral("Zeile\n").repeated(5) + QStringLiteral("Ende");
        QTest::newRow("long path") << QStringLiteral("/home/benutzer/Verzeichnis").repeated(60);
        QTest::newRow("far more lines than the screen holds") << QStringLiteral("Zeile\n").repeated(5000);
    }

    void longMessageGrowsWindowDownwardsWithinScreen()
    {
        QFETCH(QString, message);

        TInfo info;
        QRect label;
        QRect button;
        QRect client;
        QRect window;
        TModalAnswer answer([&](QWidget*) {
            label = info.Label1->geometry();
            button = info.ButtonOK->geometry();
            client = info.geometry();
            window = info.frameGeometry();
            info.ButtonOKClick();
        });
        info.ShowMessage(message);
        QVERIFY(!answer.WatchdogFired());

        const QRect available = info.screen()->availableGeometry();
        QVERIFY(label.height() > 47);
        QCOMPARE(label.topLeft(), QPoint(10, 10));
        QCOMPARE(label.width(), 583);
        // The button keeps its distance below the label, the window its margin below the button.
        QCOMPARE(button.top(), label.bottom() + 1 + 13);
        QCOMPARE(button.size(), QSize(79, 25));
        QCOMPARE(client.height(), button.bottom() + 1 + 7);
        QVERIFY2(available.contains(window), "window reaches beyond the screen");
    }

    void windowSitsAtFixedPlaceMovedOntoSmallScreens_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("position");

        QTest::newRow("full HD") << QRect(0, 0, 1920, 1080) << QPoint(987, 831);
        QTest::newRow("full HD with task bar at the bottom") << QRect(0, 0, 1920, 1040) << QPoint(987, 831);
        QTest::newRow("1280 x 1024") << QRect(0, 0, 1280, 1024) << QPoint(677, 831);
        QTest::newRow("1024 x 768") << QRect(0, 0, 1024, 768) << QPoint(421, 666);
        QTest::newRow("task bar at the top of a small screen") << QRect(0, 40, 800, 560) << QPoint(197, 498);
        QTest::newRow("screen smaller than the window keeps its corner")
            << QRect(0, 0, 500, 80) << QPoint(0, 0);
        QTest::newRow("second screen to the right") << QRect(1920, 0, 1280, 1024) << QPoint(1920, 831);
    }

    void windowSitsAtFixedPlaceMovedOntoSmallScreens()
    {
        QFETCH(QRect, available);
        QFETCH(QPoint, position);

        QCOMPARE(TInfo::ScreenPosition(available, QSize(603, 102)), position);
    }

    void shownWindowIsNotCentredButAtItsPlace()
    {
        TInfo info;
        QRect shownAt;
        TModalAnswer answer([&](QWidget*) {
            shownAt = info.frameGeometry();
            info.ButtonOKClick();
        });
        info.ShowMessage(QStringLiteral("Kurz."));
        QVERIFY(!answer.WatchdogFired());

        // The test screen is smaller than the fixed place needs, so the window is moved onto it.
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(shownAt.topLeft(), TInfo::ScreenPosition(available, shownAt.size()));
        QVERIFY(available.contains(shownAt));
        QVERIFY(shownAt.center() != available.center());
    }
};

QTEST_MAIN(TestInformation)
#include "tst_information.moc"
