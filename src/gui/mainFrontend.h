// The main window "Vorlandt Online-Updater": the search button with its progress display, the
// buttons for the settings, the installed updates and the feedback tool, and the tray icon the
// window retreats to when minimised. In autostart mode it is never shown: it carries out one
// update run while it is created and then asks the application to end.
#pragma once

#include "gui/QtFrontEnd.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class TfrmMain;
class TfrmUpdateBenachrichtigung;
class TTracker;
class TUpdateCheck;
class TUpdateRun;
class TUpdates;

// The GUI's front end while the main window lives: progress goes to the window's label and bar,
// the pending updates to its notification dialog.
class TMainFrontEnd : public TQtFrontEnd {
public:
    explicit TMainFrontEnd(TfrmMain& frmMain) : FfrmMain(frmMain) {}
    void ShowProgress(int position, int maximum, const QString& text) override;
    bool ConfirmUpdates(const TUpdates& updates) override;

private:
    TfrmMain& FfrmMain;
};

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    // Whether the desktop offers a system tray right now.
    using TTrayCheck = std::function<bool()>;

    // Runs FormCreate: `arguments` are the command-line arguments without the program name.
    // An error of the autostart run is shown by the general error display and leaves the window
    // running (hidden, with the tray icon) instead of ending the program. `trayAvailable` (empty:
    // Qt's answer) is asked whenever the window chooses between the tray and the taskbar.
    explicit TfrmMain(const QStringList& arguments, TTrayCheck trayAvailable = {}, QWidget* parent = nullptr);
    // Runs FormDestroy.
    ~TfrmMain() override;

    // Whether the application shows the main window at start: not in autostart mode.
    bool ShowMainForm() const { return FShowMainForm; }
    // Set when the autostart run ended normally: the program ends instead of entering its loop.
    bool Terminated() const { return FTerminated; }
    bool AutostartModus() const { return FAutostartModus; }

    // The program-wide windows the buttons show; created after this window, owned elsewhere.
    void SetSettingsWindow(QDialog* frmEinstellungen) { FfrmEinstellungen = frmEinstellungen; }
    void SetUserLogWindow(QDialog* frmUserLog) { FfrmUserLog = frmUserLog; }

    // Children of the window, which owns them.
    QSystemTrayIcon* tiUpdater;
    QPushButton* btnStart;
    QPushButton* btnEinstellungen;
    QLabel* lblFortschritt;
    QProgressBar* pbFortschritt;
    QPushButton* btnFeedbackTool;
    QPushButton* btnInstallierteUpdates;

    // Null until the first updates were offered.
    TfrmUpdateBenachrichtigung* frmUpdateBenachrichtigung() const { return FfrmUpdateBenachrichtigung.get(); }
    const TUpdates* Updates() const { return FUpdates.get(); }
    TTracker* StatisticsTracker() const { return FStatisticsTracker.get(); }
    const QString& DLLPfad() const { return FDLLPfad; }

    // True when minimising hides the window in the notification area; without a system tray the
    // window stays on the taskbar, or the person could never get it back.
    bool TrayAvailable() const { return FTrayAvailable(); }

public Q_SLOTS:
    void btnStartClick();
    void btnEinstellungenClick();
    void btnInstallierteUpdatesClick();
    void btnFeedbackToolClick();
    void tiUpdaterDblClick();

    // Sizes the window for its font before it is first shown.
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Closing the main window ends the program.
    void closeEvent(QCloseEvent* event) override;

private:
    friend class TMainFrontEnd;

    void FormCreate(const QStringList& arguments);
    void FormShow();
    void FormDestroy();
    void RunUpdateCheck(bool Manual);
    void SetButtonsEnabled(bool enabled);
    void LayOut();
    // Sizes the window for its font, within the screen, and centres it there.
    void FitToFont();

    TTrayCheck FTrayAvailable;
    QString FDLLPfad;
    bool FAutostartModus = false;
    std::unique_ptr<TTracker> FStatisticsTracker;
    std::unique_ptr<TUpdateCheck> FUpdateCheck;
    std::unique_ptr<TUpdates> FUpdates;

    std::unique_ptr<TfrmUpdateBenachrichtigung> FfrmUpdateBenachrichtigung;
    TMainFrontEnd FFrontEnd;
    TFrontEnd* FPreviousFrontEnd = nullptr;
    QPointer<QDialog> FfrmEinstellungen;
    QPointer<QDialog> FfrmUserLog;
    bool FShowMainForm = true;
    bool FTerminated = false;
    bool FFittedToFont = false;
};
