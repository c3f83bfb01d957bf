// VorlandtOnlineUpdater: the GUI program. With "-a" as its first argument it searches once,
// silently unless there is something to show, and ends.
#include "gui/Application.h"
#include "gui/mainFrontend.h"
#include "gui/UserLogWindow.h"
#include "gui/Einstellungen.h"
#include "core/services/BasicProcs.h"

#include <QTimer>

#include <memory>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    SetProgramIdentity();
    // The window hides in the notification area; closing the news or notification dialog
    // during an autostart run must not end the program while the main window is hidden.
    TApplication::setQuitOnLastWindowClosed(false);

    try {
        CheckTestMarker();
    } catch (...) {
        ShowException();
    }

    QStringList arguments = TApplication::arguments();
    arguments.removeFirst();

    // Created in this order and destroyed in the reverse one; the main window last, so that its
    // FormDestroy writes the diagnostic log after everything else has ended.
    auto frmMain = std::make_unique<TfrmMain>(arguments);
    auto frmEinstellungen = std::make_unique<TfrmEinstellungen>(frmMain.get());
    frmMain->SetSettingsWindow(frmEinstellungen.get());
    auto frmUserLog = std::make_unique<TfrmUserLog>(frmMain.get());
    frmMain->SetUserLogWindow(frmUserLog.get());

    int result = 0;
    if (!frmMain->Terminated()) {
        if (frmMain->ShowMainForm())
            frmMain->show();
        // For start-up measurements: end as soon as the window has been shown and painted.
        if (qEnvironmentVariableIsSet("VORLANDT_EXIT_WHEN_SHOWN"))
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        result = TApplication::exec();
    }
    frmUserLog.reset();
    frmEinstellungen.reset();
    frmMain.reset();
    return result;
}
