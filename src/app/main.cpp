// VorlandtOnlineUpdater: the GUI program. With "-a" as its first argument it searches once,
// silently unless there is something to show, and ends.
#include "core/services/BasicProcs.h"
#include "core/services/CommandLineHelp.h"
#include "gui/Application.h"
#include "gui/Einstellungen.h"
#include "gui/frmUserLog.h"
#include "gui/mainFrontend.h"

#include <QTimer>

#include <memory>

namespace {

const char Usage[] =
    "Aufruf: VorlandtOnlineUpdater [-a]\n"
    "Das Fenster des Vorlandt Online-Updaters: sucht Updates für die Module der Vorlandt-Programme,\n"
    "zeigt sie mit ihren Beschreibungen und übergibt die angenommenen dem Installer; dazu\n"
    "Neuigkeiten, die installierten Updates und die Einstellungen.\n"
    "\n"
    "  -a         Autostart-Lauf ohne Fenster: sucht, wenn automatisches Suchen eingeschaltet und\n"
    "             das Prüfintervall abgelaufen ist, zeigt nur, was eine Antwort braucht, und endet\n"
    "  --help     diese Hilfe ausgeben\n"
    "  --version  Versionsnummer ausgeben\n"
    "\n"
    "Die Optionen von Qt (etwa -platform NAME) gelten ebenfalls.\n"
    "\n"
    "Exit-Status: 0 Ende, 2 falscher Aufruf.\n";

const QString ProgramName = QStringLiteral("VorlandtOnlineUpdater");

}  // namespace

int main(int argc, char** argv)
{
    // Before the application object: help and version need no display.
    if (const std::optional<int> answered =
            cli::AnswerInfoCall(cli::ArgumentsOf(argc, argv), ProgramName, Usage))
        return *answered;

    TApplication app(argc, argv);
    SetProgramIdentity();
    // The window hides in the notification area; closing the news or notification dialog
    // during an autostart run must not end the program while the main window is hidden.
    TApplication::setQuitOnLastWindowClosed(false);

    // Qt has taken its own options out by now; what is left must be ours.
    QStringList arguments = TApplication::arguments();
    arguments.removeFirst();
    const qsizetype ours = arguments.value(0) == QStringLiteral("-a") ? 1 : 0;
    if (arguments.size() > ours)
        return cli::UsageError(ProgramName,
                               QStringLiteral("unbekanntes Argument \"%1\"").arg(arguments[ours]), Usage);

    try {
        CheckTestMarker();
    } catch (...) {
        ShowException();
    }

    // Created in this order and destroyed in the reverse one; the main window last, so that its
    // FormDestroy writes the diagnostic log after everything else has ended. An autostart run is
    // over once the main window is made: the other windows are made only for a program that
    // goes on.
    auto frmMain = std::make_unique<TfrmMain>(arguments);
    std::unique_ptr<TfrmEinstellungen> frmEinstellungen;
    std::unique_ptr<TfrmUserLog> frmUserLog;

    int result = 0;
    if (!frmMain->Terminated()) {
        frmEinstellungen = std::make_unique<TfrmEinstellungen>(frmMain.get());
        frmMain->SetSettingsWindow(frmEinstellungen.get());
        frmUserLog = std::make_unique<TfrmUserLog>(frmMain.get());
        frmMain->SetUserLogWindow(frmUserLog.get());
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
