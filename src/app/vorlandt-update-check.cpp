// vorlandt-update-check: the update run for terminals, scripts and machines without a display.
// It runs the same steps as the main window's search button (or, with -a, its autostart run) and
// prints what the windows would show.
#include "core/catalog/Updates.h"
#include "core/platform/desktop/Terminal.h"
#include "core/platform/text/IntText.h"
#include "core/platform/VorlandtError.h"
#include "console/ConsoleFrontEnd.h"
#include "core/run/RunReport.h"
#include "core/run/UpdateRun.h"
#include "core/services/BasicProcs.h"
#include "core/services/CommandLineHelp.h"
#include "core/sources/TransferCancel.h"
#include "core/sources/UpdateCheck.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

const char Usage[] =
    "Aufruf: vorlandt-update-check [-a] [--accept | --check-only] [--json] [--postpone N]\n"
    "Sucht Updates für die Module der Vorlandt-Programme, wie der Knopf \"Suche Updates\" im\n"
    "Fenster, und zeigt Meldungen, Neuigkeiten und anstehende Updates im Terminal.\n"
    "\n"
    "  -a            Autostart-Lauf: der Schalter \"Disable\" und das Prüfintervall gelten\n"
    "  --accept      anstehende Updates installieren (ohne Terminal; sonst abgelehnt)\n"
    "  --check-only  nur nachsehen: nichts installieren, keine Neuigkeiten, keine\n"
    "                Prüfzeit speichern; Exit-Status 4, wenn Updates anstehen\n"
    "  --json        ein JSON-Dokument mit dem Ergebnis jedes Moduls auf stdout; alle\n"
    "                Meldungen stehen dann auf stderr\n"
    "  --postpone N  Neuigkeiten ohne Terminal mit Auswahl N schliessen (0, 1 oder 2)\n"
    "  --help        diese Hilfe ausgeben\n"
    "  --version     Versionsnummer ausgeben\n"
    "\n"
    "Exit-Status:\n"
    "  0    Erfolg: alle Module geprüft; nichts gefunden, Updates abgelehnt oder\n"
    "       installiert\n"
    "  1    Fehler (Meldung auf stderr), keine Update-Quelle erreichbar (ohne -a)\n"
    "       oder eine andere Suche läuft bereits\n"
    "  2    falscher Aufruf (die Hilfe auf stderr)\n"
    "  3    das gestartete Installationsprogramm ist fehlgeschlagen (Status nicht 0,\n"
    "       durch ein Signal beendet oder nicht startbar; der Grund auf stderr,\n"
    "       bei nicht startbar mit Pfad)\n"
    "  4    mit --check-only: Updates stehen an, alle Module geprüft\n"
    "  5    unvollständig: mindestens ein Modul konnte nicht geprüft werden\n"
    "       (Signatur abgelehnt, Update-Beschreibung nicht lesbar, Quelle ohne\n"
    "       Antwort); je Modul eine Zeile auf stderr\n"
    "  130  durch SIGINT abgebrochen, 143 durch SIGTERM\n"
    "Treffen mehrere zu: 130/143 vor 3, 3 vor 1, 1 vor 5, 5 vor 4, 4 vor 0.\n";

const QString ProgramName = QStringLiteral("vorlandt-update-check");

// The program's own exit statuses beside cli::TExitCode.
constexpr int ExitInstallerFailed = 3;
constexpr int ExitUpdatesPending = 4;
constexpr int ExitIncomplete = 5;

volatile std::sig_atomic_t StopSignal = 0;

// During a download the signal stops the transfer (the worker sees the flag within about a
// second), the run ends without asking anything more, and the program leaves with 128 + the
// signal's number after writing its log. Outside a download (a question on the terminal, the
// wait for the installer) the signal ends the program at once, as it always did.
extern "C" void StopRun(int signal)
{
    // The flag before the look at running transfers: one that starts after the look sees it.
    sources::CancelTransfers();
    StopSignal = signal;
    if (!sources::TransferRunning())
        platform::EndBySignal(signal);
}

void PrintError(const QString& text)
{
    const QByteArray bytes = (WithoutControlCharacters(DisplayLineBreaks(text)) + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

struct TArguments {
    bool Autostart = false;
    bool CheckOnly = false;
    bool Json = false;
    TConsoleFrontEnd::TOptions Options;
};

// nullopt for arguments this program does not understand, with `error` saying which.
std::optional<TArguments> ParseArguments(const QStringList& arguments, QString& error)
{
    TArguments result;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("-a")) {
            result.Autostart = true;
        } else if (argument == QStringLiteral("--accept")) {
            result.Options.Accept = true;
        } else if (argument == QStringLiteral("--check-only")) {
            result.CheckOnly = true;
        } else if (argument == QStringLiteral("--json")) {
            result.Json = true;
        } else if (argument == QStringLiteral("--postpone")) {
            const std::optional<qint32> choice =
                i + 1 < arguments.size() ? TryStrToInt(arguments[++i]) : std::nullopt;
            if (!choice || *choice < 0 || *choice > 2) {
                error = QStringLiteral("--postpone braucht 0, 1 oder 2");
                return std::nullopt;
            }
            result.Options.Postpone = *choice;
        } else {
            error = QStringLiteral("unbekanntes Argument \"%1\"").arg(argument);
            return std::nullopt;
        }
    }
    if (result.CheckOnly && result.Options.Accept) {
        error = QStringLiteral("--check-only und --accept schließen einander aus");
        return std::nullopt;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VorlandtOnlineUpdater"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (const std::optional<int> answered = cli::AnswerInfoCall(arguments, ProgramName, Usage))
        return *answered;
    QString error;
    std::optional<TArguments> parsed = ParseArguments(arguments, error);
    if (!parsed)
        return cli::UsageError(ProgramName, error, Usage);
    parsed->Options.Interactive = platform::StdinIsTerminal();

    // The report alone goes to stdout: everything else this process or the installer it starts
    // writes there (messages, news, questions) goes to stderr instead.
    int reportOut = -1;
    if (parsed->Json) {
        reportOut = platform::DivertStdoutToStderr();
        if (reportOut < 0) {
            PrintError(QStringLiteral("Die Standardausgabe lässt sich nicht umleiten."));
            return cli::ExitFailed;
        }
    }

    TConsoleFrontEnd frontEnd(parsed->Options, stdout, stderr, stdin);
    SetFrontEnd(&frontEnd);
    platform::OnStopSignals(&StopRun);

    int result = 0;
    QString failure;
    TUpdates updates;
    std::optional<TUpdateCheck> updateCheck;
    std::optional<TUpdateRun> run;
    try {
        // The probe writes into the shared data folder: a search that only looks leaves it alone.
        if (!parsed->CheckOnly)
            CheckTestMarker();
        BeginSearchLog();
        updateCheck.emplace(&updates);
        run.emplace(updates, *updateCheck, parsed->Autostart);
        run->SetCheckOnly(parsed->CheckOnly);
        run->SetUncheckedNamedByCaller(true);
        run->RunUpdateCheck(!parsed->Autostart);
        // A search by hand that reached no source said so; an autostart run stays as silent as
        // its window would.
        if (run->OtherRunActive() || (run->NoSourceAnswered() && !parsed->Autostart))
            result = cli::ExitFailed;
        // A script must see that what it asked for was not installed.
        if (const std::optional<TProgramExit>& installer = run->InstallerExit();
            installer && !installer->Succeeded()) {
            PrintError(InstallerExitText(*installer));
            result = ExitInstallerFailed;
        }
        // A module that could not be checked may hide updates, or a tampered mirror: the
        // search is never "up to date" then, and a script learns it before pending updates.
        const QList<TModuleReport> unchecked = run->UncheckedModules();
        for (const TModuleReport& report : unchecked)
            PrintError(QStringLiteral("Nicht geprüft: ") + UncheckedModuleText(report));
        if (result == 0 && !unchecked.isEmpty())
            result = ExitIncomplete;
        if (parsed->CheckOnly && result == 0 && run->PendingUpdates() > 0)
            result = ExitUpdatesPending;
    } catch (const EVorlandtError& error) {
        failure = error.message();
        PrintError(failure);
        result = 1;
    } catch (const std::exception& error) {
        failure = QString::fromLocal8Bit(error.what());
        PrintError(failure);
        result = 1;
    }
    try {
        FinishProgramLog();
    } catch (const EVorlandtError& error) {
        PrintError(error.message());
        // A failed installer stays what a script learns first.
        if (result != ExitInstallerFailed)
            result = cli::ExitFailed;
    }
    SetFrontEnd(nullptr);
    if (StopSignal != 0) {
        PrintError(QStringLiteral("Updatesuche abgebrochen."));
        result = 128 + StopSignal;
    }
    if (reportOut >= 0) {
        if (!platform::WriteAllAndClose(reportOut, RunReportJson(run ? &*run : nullptr, result, failure)))
            return cli::ExitFailed;
    }
    return result;
}
