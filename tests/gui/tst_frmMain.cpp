// The main window on the offscreen platform: the two modes, the search button's run with its
// progress display, the general error display, and the retreat to the tray.
#include "core/catalog/JobHandOff.h"
#include "core/platform/VorlandtError.h"
#include "core/sources/TransferCancel.h"
#include "core/tracking/TrackingConnection.h"
#include "support/net/TestHttpsServer.h"
#include "gui/Application.h"
#include "gui/UpdateBenachrichtigung.h"
#include "gui/TrackingControls.h"
#include "gui/frmUserLog.h"
#include "gui/mainFrontend.h"

#include "support/TrackingServerProcess.h"
#include "support/net/TestPki.h"

#include "support/RunWorld.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

namespace {

// As the box shows it: the core's CR LF are the box's line breaks.
const QString NothingFound =
    QStringLiteral("Keine neuen Updates gefunden.\n\nIhre Software ist auf dem neuesten Stand.");

// The desktops the window is shown on: one with a system tray unless a test says otherwise.
bool WithTray()
{
    return true;
}
bool WithoutTray()
{
    return false;
}

// Answers every modal window while it lives: message boxes with their first button, the
// notification dialog with the result given; records what it saw.
class TModalResponder {
public:
    explicit TModalResponder(int notificationResult = 2) : FNotificationResult(notificationResult)
    {
        FPoll.setInterval(5);
        QObject::connect(&FPoll, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible() || modal == FLast)
                return;
            FLast = modal;
            if (BeforeAnswer)
                BeforeAnswer(modal);
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                Boxes.append(box->text());
                box->buttons().first()->click();
            } else if (auto* dialog = qobject_cast<TfrmUpdateBenachrichtigung*>(modal)) {
                Notifications.append(dialog->Panels().size());
                dialog->done(FNotificationResult);
            } else if (auto* other = qobject_cast<QDialog*>(modal)) {
                Others.append(other->objectName());
                other->done(0);
            }
        });
        FPoll.start();
    }

    std::function<void(QWidget*)> BeforeAnswer;
    QStringList Boxes;         // the texts of the message boxes, as shown
    QList<int> Notifications;  // the number of panels of each notification dialog
    QStringList Others;

private:
    QTimer FPoll;
    QPointer<QWidget> FLast;
    int FNotificationResult;
};

}  // namespace

class tst_frmMain : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    QTemporaryDir FCertDir;
    QTemporaryDir FWwwDir;
    TTestPki FPki;
    TTestHttpsServer FServer;
    QString FServerError;

private Q_SLOTS:
    void initTestCase()
    {
        FServerError = TrustedLoopbackPki(FPki, FCertDir);
        if (FServerError.isEmpty())
            FServerError = FWwwDir.isValid() ? FServer.Start(FPki.ServerCert, FPki.ServerKey, FWwwDir.path())
                                             : QStringLiteral("no temporary folder");
    }

    void cleanupTestCase() { FServer.Stop(); }

    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup() { FWorld.reset(); }

    void autostartModeOnlyWithExactFirstArgument_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("autostart");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("-a") << QStringList{"-a"} << true;
        QTest::newRow("-a and more") << QStringList{"-a", "x"} << true;
        QTest::newRow("-A") << QStringList{"-A"} << false;
        QTest::newRow("-a second") << QStringList{"x", "-a"} << false;
        QTest::newRow("--a") << QStringList{"--a"} << false;
    }

    void autostartModeOnlyWithExactFirstArgument()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, autostart);
        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 12, 3, QStringLiteral("Vorlandt Kasse"), {}));
        TModalResponder responder;
        TfrmMain frm(arguments, WithTray);
        QCOMPARE(frm.AutostartModus(), autostart);
        QCOMPARE(frm.ShowMainForm(), !autostart);
        // The autostart run happened inside the creation, found nothing and said nothing.
        QCOMPARE(frm.Terminated(), autostart);
        QCOMPARE(responder.Boxes, QStringList());
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate,
                                 SettingsKeys::LastCheckDateTime, {}),
                 autostart ? QStringLiteral("15.03.2024 10:00:00") : QString());
        QVERIFY(LogBuffer()->contains(QStringLiteral("FormCreate - AutostartModus aktiv")) == autostart);
    }

    // An autostart run that fails shows the error and keeps the program: hidden with the tray
    // icon, or shown where there is no tray, since nothing could bring the window back.
    void failedAutostartRunKeepsTheProgramReachable_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("with tray") << true;
        QTest::newRow("without tray") << false;
    }

    void failedAutostartRunKeepsTheProgramReachable()
    {
        QFETCH(bool, tray);
        TModalResponder responder;
        // No registrations key: the store's read error.
        TfrmMain frm({QStringLiteral("-a")}, tray ? WithTray : WithoutTray);
        QCOMPARE(responder.Boxes.size(), 1);
        QVERIFY2(responder.Boxes.first().contains(QStringLiteral("OnlineUpdateModule")),
                 qPrintable(responder.Boxes.first()));
        QVERIFY(!frm.Terminated());
        QCOMPARE(frm.ShowMainForm(), !tray);
        QCOMPARE(frm.tiUpdater->isVisible(), tray);
    }

    // While a manual run waits for a slow server, the four buttons are disabled and the label
    // names the module; afterwards they are enabled again and the label reads "Bereit.".
    void buttonsDisabledDuringTheRun()
    {
        if (!FServerError.isEmpty())
            QSKIP(qPrintable(FServerError));
        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 12, 3, QStringLiteral("Vorlandt Kasse"), {}));
        DeleteValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource);
        // The slow page stands in for the descriptor: it takes a second and is no XML.
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         FServer.Url(QStringLiteral("/slow?seconds=1&bytes=64&rest=")));

        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QList<bool> enabledWhileWaiting;
        QString labelWhileWaiting;
        int positionWhileWaiting = -1;
        QTimer::singleShot(500, &frm, [&] {
            for (QPushButton* button :
                 {frm.btnStart, frm.btnEinstellungen, frm.btnInstallierteUpdates, frm.btnFeedbackTool})
                enabledWhileWaiting.append(button->isEnabled());
            labelWhileWaiting = frm.lblFortschritt->text();
            positionWhileWaiting = frm.pbFortschritt->value();
        });
        TModalResponder responder;
        QTest::mouseClick(frm.btnStart, Qt::LeftButton);

        QCOMPARE(enabledWhileWaiting, QList<bool>({false, false, false, false}));
        QCOMPARE(labelWhileWaiting, QStringLiteral(u"[01/01] Überprüfe Kasse..."));
        QCOMPARE(positionWhileWaiting, 1);
        QCOMPARE(responder.Boxes.last(), NothingFound);
        for (QPushButton* button :
             {frm.btnStart, frm.btnEinstellungen, frm.btnInstallierteUpdates, frm.btnFeedbackTool})
            QVERIFY(button->isEnabled());
        QCOMPARE(frm.lblFortschritt->text(), QStringLiteral("Bereit."));
        QCOMPARE(LogBuffer()->mid(0, 2).last(), QStringLiteral("Updatesuche gestartet"));
    }

    // Closing the window while the search waits for a server that trickles its answer ends the
    // search at once: no box is shown afterwards and no half-fetched file stays.
    void closingTheWindowDuringADownloadEndsTheSearch()
    {
        if (!FServerError.isEmpty())
            QSKIP(qPrintable(FServerError));
        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 12, 3, QStringLiteral("Vorlandt Kasse"), {}));
        DeleteValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         FServer.Url(QStringLiteral("/slow?seconds=600&bytes=1200&rest=")));

        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QTimer::singleShot(700, &frm, &QWidget::close);
        TModalResponder responder;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(frm.btnStart, Qt::LeftButton);

        // A bound for a loaded machine; the transfer itself stops within about a second.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!frm.isVisible());
        QCOMPARE(responder.Boxes, QStringList());
        QVERIFY(LogBuffer()->contains(QStringLiteral("Updatesuche abgebrochen")));
        QCOMPARE(QDir(FWorld->TempDir()).entryList({QStringLiteral("*.xml*")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // An error ends the run at the general error display, after the buttons came back.
    void errorOfManualRunIsShownWithButtonsEnabled()
    {
        TfrmMain frm({}, WithTray);
        frm.show();
        bool enabledWhenShown = false;
        TModalResponder responder;
        responder.BeforeAnswer = [&](QWidget*) { enabledWhenShown = frm.btnStart->isEnabled(); };
        QTest::mouseClick(frm.btnStart, Qt::LeftButton);
        QCOMPARE(responder.Boxes.size(), 1);
        QVERIFY(responder.Boxes.first().contains(QStringLiteral("OnlineUpdateModule")));
        QVERIFY(enabledWhenShown);
        QCOMPARE(frm.lblFortschritt->text(), QStringLiteral("Bereit."));
    }

    void notificationDialogDecides_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("handedOver");
        QTest::newRow("Updates installieren") << 1 << true;
        QTest::newRow("Keine Updates durchführen") << 2 << false;
    }

    void notificationDialogDecides()
    {
        QFETCH(int, result);
        QFETCH(bool, handedOver);
        QVERIFY(FWorld->AddInstaller(QFINDTESTDATA("../catalog/handoff/VorlandtUpdate.exe")));
        QVERIFY(FWorld->AddModule(QStringLiteral("A"), 11, 1, QStringLiteral("Vorlandt Kasse"), {{0, 1}}));
        QVERIFY(FWorld->AddModule(QStringLiteral("B"), 12, 1, QStringLiteral("Vorlandt Kasse"), {{0, 1}}));
        QVERIFY(FWorld->AddModule(QStringLiteral("C"), 13, 1, QStringLiteral("Vorlandt Faktura"), {{0, 1}}));
        TfrmMain frm({}, WithTray);
        frm.show();
        TModalResponder responder(result);
        QTest::mouseClick(frm.btnStart, Qt::LeftButton);
        QCOMPARE(responder.Notifications, QList<int>({2}));
        QCOMPARE(responder.Boxes, QStringList());
        QCOMPARE(QFile::exists(JobFilePath()), handedOver);
        QCOMPARE(FWorld->InstallerCall().isEmpty(), !handedOver);
        QCOMPARE(frm.DLLPfad(), handedOver ? FWorld->SuiteDir() : QString());
    }

    // Each showing logs the start and sets the help file, also after a restore from the tray.
    void minimiseGoesToTheTrayAndBack()
    {
        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QVERIFY(frm.tiUpdater->isVisible());
        QVERIFY(ApplicationHelpFile().endsWith(
            QStringLiteral("/share/vorlandt-online-updater/hilfe/index.html")));
        frm.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(frm.isHidden());
        QVERIFY(frm.tiUpdater->isVisible());

        frm.tiUpdaterDblClick();
        QVERIFY(frm.isVisible());
        QVERIFY(!frm.isMinimized());
        QVERIFY(!frm.tiUpdater->isVisible());
        QCOMPARE(LogBuffer()->count(QStringLiteral("VorlandtOnlineUpdater gestartet")), 2);
    }

    // Trays that speak StatusNotifierItem report one activation and never a double click.
    void trayActivationRestoresTheWindow_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("restored");
        QTest::newRow("single activation") << QSystemTrayIcon::Trigger << true;
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
        QTest::newRow("context menu request") << QSystemTrayIcon::Context << false;
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    }

    void trayActivationRestoresTheWindow()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, restored);
        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        frm.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(frm.isHidden());

        Q_EMIT frm.tiUpdater->activated(reason);
        QCOMPARE(frm.isVisible(), restored);
        QCOMPARE(frm.tiUpdater->isVisible(), !restored);
        if (restored)
            QVERIFY(!frm.isMinimized());
    }

    // The tray's menu: "Öffnen" brings the window back, "Beenden" ends the program, also while
    // the window hides in the tray.
    void trayMenuOpensAndEnds()
    {
        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        const QMenu* menu = frm.tiUpdater->contextMenu();
        QVERIFY(menu != nullptr);
        QStringList captions;
        for (const QAction* action : menu->actions())
            captions << action->text();
        QCOMPARE(captions, QStringList({QStringLiteral(u"Öffnen"), QStringLiteral("Beenden")}));

        frm.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(frm.isHidden());
        menu->actions().at(0)->trigger();
        QVERIFY(frm.isVisible());
        QVERIFY(!frm.isMinimized());

        frm.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(frm.isHidden());
        // Closing the main window is what ends the program (its close handler quits).
        struct TCloseWatcher : QObject {
            bool Closed = false;
            bool eventFilter(QObject*, QEvent* event) override
            {
                Closed = Closed || event->type() == QEvent::Close;
                return false;
            }
        } watcher;
        frm.installEventFilter(&watcher);
        menu->actions().at(1)->trigger();
        QVERIFY(watcher.Closed);
        QVERIFY(!frm.isVisible());
    }

    // With nothing registered the bar is empty, not Qt's endless busy animation (maximum 0).
    void progressBarStaysEmptyWithoutRegistrations()
    {
        WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule, QStringLiteral("Stand"), 1);
        TfrmMain frm({}, WithTray);
        frm.show();
        TModalResponder responder;
        QTest::mouseClick(frm.btnStart, Qt::LeftButton);
        QCOMPARE(responder.Boxes, QStringList({NothingFound}));
        QCOMPARE(frm.lblFortschritt->text(), QStringLiteral("Bereit."));
        QCOMPARE(frm.pbFortschritt->minimum(), 0);
        QCOMPARE(frm.pbFortschritt->maximum(), 1);
        QCOMPARE(frm.pbFortschritt->value(), 0);
    }

    // Started with Enter, the search ends with the focus back on its button, whatever the
    // outcome: Enter or Space starts the next one at once. The bar is empty beside "Bereit.".
    void focusReturnsToTheSearchButtonAfterEveryRun_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::newRow("accepted") << "accepted";
        QTest::newRow("declined") << "declined";
        QTest::newRow("nothing found") << "nothing found";
        QTest::newRow("error") << "error";
    }

    void focusReturnsToTheSearchButtonAfterEveryRun()
    {
        QFETCH(QString, outcome);
        if (outcome == QStringLiteral("accepted") || outcome == QStringLiteral("declined")) {
            QVERIFY(FWorld->AddInstaller(QFINDTESTDATA("../catalog/handoff/VorlandtUpdate.exe")));
            QVERIFY(
                FWorld->AddModule(QStringLiteral("A"), 11, 1, QStringLiteral("Vorlandt Kasse"), {{0, 1}}));
        } else if (outcome == QStringLiteral("nothing found")) {
            QVERIFY(FWorld->AddModule(QStringLiteral("A"), 11, 1, QStringLiteral("Vorlandt Kasse"), {}));
        }
        // "error": no registration key, the store's read error.
        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QCOMPARE(QApplication::focusWidget(), frm.btnStart);
        TModalResponder responder(outcome == QStringLiteral("accepted") ? 1 : 2);
        QTest::keyClick(frm.btnStart, Qt::Key_Return);
        QCOMPARE(responder.Notifications.size(),
                 outcome == QStringLiteral("accepted") || outcome == QStringLiteral("declined") ? 1 : 0);
        QCOMPARE(frm.lblFortschritt->text(), QStringLiteral("Bereit."));
        QCOMPARE(frm.pbFortschritt->value(), 0);
        QCOMPARE(frm.focusWidget(), frm.btnStart);
        frm.activateWindow();
        // The notification dialog is the main window's own: the main window counts as active
        // while the hidden dialog still holds the platform's focus, so wait for the activation.
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(&frm));
        QCOMPARE(QApplication::focusWidget(), frm.btnStart);
    }

    // Enter acts on the focused button, not only on the search button; each button's access key
    // (Alt and the underlined letter) presses it from anywhere in the window.
    void keysActOnTheirButton_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("accessKey");  // 0: Enter on the focused button
        QTest::addColumn<QString>("opened");
        QTest::newRow("Enter on Einstellungen") << "btnEinstellungen" << 0 << "frmEinstellungen";
        QTest::newRow("Enter on Installierte Updates") << "btnInstallierteUpdates" << 0 << "frmUserLog";
        QTest::newRow("Alt+E") << "btnStart" << int(Qt::Key_E) << "frmEinstellungen";
        QTest::newRow("Alt+I") << "btnStart" << int(Qt::Key_I) << "frmUserLog";
    }

    void keysActOnTheirButton()
    {
        QFETCH(QString, button);
        QFETCH(int, accessKey);
        QFETCH(QString, opened);
        TfrmMain frm({}, WithTray);
        QDialog frmEinstellungen(&frm);
        frmEinstellungen.setObjectName(QStringLiteral("frmEinstellungen"));
        TfrmUserLog frmUserLog(&frm);
        frm.SetSettingsWindow(&frmEinstellungen);
        frm.SetUserLogWindow(&frmUserLog);
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        auto* target = frm.findChild<QPushButton*>(button);
        QVERIFY(target != nullptr);
        target->setFocus();
        TModalResponder responder;
        if (accessKey == 0)
            QTest::keyClick(target, Qt::Key_Return);
        else
            QTest::keyClick(frm.windowHandle(), Qt::Key(accessKey), Qt::AltModifier);
        // An access key shows the button pressed for a moment before it acts.
        QTRY_COMPARE(responder.Others, QStringList({opened}));
    }

    // The captions are those of the window; only the access key is marked in them, and the usage
    // events keep recording the caption as written.
    void buttonsCarryAccessKeys()
    {
        TfrmMain frm({}, WithTray);
        QCOMPARE(frm.btnStart->text(), QStringLiteral("&Suche Updates"));
        QCOMPARE(frm.btnEinstellungen->text(), QStringLiteral("&Einstellungen"));
        QCOMPARE(frm.btnInstallierteUpdates->text(), QStringLiteral("&Installierte Updates"));
        QCOMPARE(GetControlCaption(frm.btnStart), QStringLiteral("Suche Updates"));
        QCOMPARE(GetControlCaption(frm.btnInstallierteUpdates), QStringLiteral("Installierte Updates"));
    }

    // Tab goes as the eye does: the search, the column of Einstellungen over Installierte Updates,
    // the feedback button at the right edge, and round again.
    void tabFollowsTheScreen()
    {
        TfrmMain frm({}, WithTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QCOMPARE(QApplication::focusWidget(), frm.btnStart);
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(frm.windowHandle(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order,
                 QStringList({QStringLiteral("btnEinstellungen"), QStringLiteral("btnInstallierteUpdates"),
                              QStringLiteral("btnFeedbackTool"), QStringLiteral("btnStart")}));
        // The search button's place on the left comes before the column beside it.
        QVERIFY(frm.btnStart->geometry().right() < frm.btnEinstellungen->geometry().left());
        QVERIFY(frm.btnEinstellungen->geometry().bottom() < frm.btnInstallierteUpdates->geometry().top());
    }

    void minimiseWithoutTrayStaysOnTheTaskbar()
    {
        TfrmMain frm({}, WithoutTray);
        frm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frm));
        QVERIFY(!frm.tiUpdater->isVisible());
        frm.setWindowState(Qt::WindowMinimized);
        QTest::qWait(50);
        QVERIFY(frm.isVisible());
        QVERIFY(!frm.tiUpdater->isVisible());
    }

    void installedUpdatesButtonShowsTheLogWindow()
    {
        TfrmMain frm({}, WithTray);
        TfrmUserLog frmUserLog(&frm);
        frm.SetUserLogWindow(&frmUserLog);
        frm.show();
        TModalResponder responder;
        QTest::mouseClick(frm.btnInstallierteUpdates, Qt::LeftButton);
        QCOMPARE(responder.Others, QStringList({QStringLiteral("frmUserLog")}));
    }

    // A store that refuses the settings reaches the general error display, not Qt's event loop.
    void settingsButtonShowsTheDialogAndItsErrors()
    {
        struct TRefusingSettings : QDialog {
            int exec() override { throw EVorlandtError(QStringLiteral("Schreiben verweigert")); }
        } frmEinstellungen;
        TfrmMain frm({}, WithTray);
        frm.SetSettingsWindow(&frmEinstellungen);
        frm.show();
        TModalResponder responder;
        QTest::mouseClick(frm.btnEinstellungen, Qt::LeftButton);
        QCOMPARE(responder.Boxes, QStringList({QStringLiteral("Schreiben verweigert")}));
    }

    // With consent given, an autostart run reaches the tracking server as start, "Auto-Modus"
    // and end, in this order, sent while the main window goes away.
    void autostartRunIsTracked()
    {
        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 12, 3, QStringLiteral("Vorlandt Kasse"), {}));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen, SettingsKeys::TrackingOk,
                       true);
        TTrackingServerProcess server(FWorld->Path(QStringLiteral("tracking.db")));
        if (!server.Start(101))
            QSKIP("the reference tracking server did not start");
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        {
            TModalResponder responder;
            TfrmMain frm({QStringLiteral("-a")}, WithTray);
            QVERIFY(frm.Terminated());
            QCOMPARE(responder.Boxes, QStringList());
        }
        qunsetenv("VORLANDT_TRACKING_PORT");
        QCOMPARE(server.Summary(), QStringList({"GetTrackingProbability", "SendUserEvent:Tracker-Start",
                                                "SendUserEvent:Auto-Modus", "SendUserEvent:Tracker-Ende"}));
        QVERIFY(server.Stop());
    }

    void destructionWritesTheLog()
    {
        {
            TfrmMain frm({}, WithTray);
            WriteLog(TLogAction::AppendLine, QStringLiteral("Zeile"));
        }
        QCOMPARE(LogBuffer(), std::nullopt);
        QVERIFY(ReadFile(LogDirectory() + LogFileName)
                    .endsWith("Zeile\r\nVorlandtOnlineUpdater beendet\r\n\r\n"));
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
