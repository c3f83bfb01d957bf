// One update run over all module registrations: news, descriptors, the pending updates shown
// for acceptance, the wait for running modules, the job file and the installer. Widget-free: it
// talks to the person only through the front end in charge, so the main window, the console
// front end and the tests all run the very same steps.
#pragma once

#include "core/services/BasicProcs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class TUpdates;
class TUpdateCheck;

// What the run found for one module registration.
struct TModuleReport {
    enum class TOutcome {
        Skipped,           // switched off in its registration ("disabled" = 1)
        NotChecked,        // the check interval had not passed, or the search was cancelled
                           // before it was checked (Reason "Suche abgebrochen")
        UpdatesOffered,    // Versions are pending
        UpToDate,          // the descriptor offers nothing newer than what is installed
        Unreachable,       // its source gave no answer (Reason says why)
        Missing,           // its source has no descriptor for it
        SignatureRefused,  // the descriptor's signature did not hold (Reason)
        Malformed,         // the descriptor could not be read (Reason)
    };
    QString Registration;  // the registration's subkey name
    QString Modulbezeichnung;
    int ModulNr = 0;
    int Hauptversion = 0;
    TOutcome Outcome = TOutcome::NotChecked;
    QString Source;  // the server address or folder asked
    QString File;    // the descriptor asked for ("update_12_5.xml"), empty when none was
    QString Reason;
    QStringList Versions;  // "12.3.2", in the order the catalog sorts them
};

// A module that a search asked for and could not check: its source did not answer (while
// others did), its descriptor's signature did not hold, or its descriptor could not be read.
// Nothing can be said of its updates, so such a search is never "up to date".
bool CouldNotBeChecked(TModuleReport::TOutcome outcome);

// One such module for the person: "KTVO Kasse (update_7_5.xml): Signatur ungültig", the reason
// in the words of the diagnostic log.
QString UncheckedModuleText(const TModuleReport& report);

class TUpdateRun {
public:
    // Neither is owned; both must outlive the run. `AutostartModus` silences the message that
    // nothing was found.
    TUpdateRun(TUpdates& Updates, TUpdateCheck& UpdateCheck, bool AutostartModus);

    // The run; `Manual` is false for an autostart run, where the "Disable" switch and the check
    // interval apply. Errors are not caught here: they end the run and reach the caller. While
    // another run of this user is active nothing is done but saying so.
    void RunUpdateCheck(bool Manual);
    // A search that only looks: it lists what is pending and installs nothing, shows and
    // postpones no news, records no check time and writes no job file or temporary entries.
    void SetCheckOnly(bool on) { FCheckOnly = on; }
    // The caller names every module that could not be checked itself (the console, on stderr).
    // The closing message of a search that found nothing then says only that some could not be
    // checked, also for a descriptor that could not be read, which the window passes over in
    // silence; the window names the refused signatures in it.
    void SetUncheckedNamedByCaller(bool on) { FUncheckedNamedByCaller = on; }

    // True when the last RunUpdateCheck found another run active and did nothing.
    bool OtherRunActive() const { return FOtherRunActive; }
    // True when the last run asked sources for descriptors and none of them answered at all: a
    // manual run then warned instead of saying that nothing was found.
    bool NoSourceAnswered() const { return FNoSourceAnswered; }
    // The installer's end, when the last run started (or tried to start) it.
    const std::optional<TProgramExit>& InstallerExit() const { return FInstallerExit; }
    // Every registration the last run went through, in its order.
    const QList<TModuleReport>& Modules() const { return FModules; }
    // The updates the last run found pending.
    int PendingUpdates() const { return FPendingUpdates; }
    // The modules the last run could not check (CouldNotBeChecked), in its order; none when no
    // source answered at all (NoSourceAnswered tells that).
    QList<TModuleReport> UncheckedModules() const;
    // True when the last run ended early: interrupted, or stopped at the "Disable" switch or the
    // check interval of an autostart run.
    bool Interrupted() const { return FCancelled; }
    bool StoppedAtGate() const { return FStoppedAtGate; }

    // True when the check interval has passed since the last check.
    bool LetztesUpdateLangGenugHer();
    // Shows the pending updates, or says that there are none (not in autostart mode); true when
    // the person accepted them.
    bool ShowUpdateNotification();

    // The suite's installation folder the installer was started from, empty before that.
    const QString& DLLPfad() const { return FDLLPfad; }

private:
    TUpdates& FUpdates;
    TUpdateCheck& FUpdateCheck;
    bool FAutostartModus;
    QString FDLLPfad;
    bool FOtherRunActive = false;
    void RunSteps(bool Manual);
    // Reports every registration from the first one not yet in FModules on as not checked by a
    // cancelled search (or skipped, when switched off).
    void ReportNotChecked(const QStringList& registrations);
    void ReportToJournal();

    bool FCheckOnly = false;
    bool FUncheckedNamedByCaller = false;
    bool FReported = false;
    bool FNoSourceAnswered = false;
    bool FCancelled = false;
    bool FStoppedAtGate = false;
    QString FGateReason;  // why an automatic search stopped at a gate, for the journal
    int FPendingUpdates = 0;
    QString FNoSourceText;
    std::optional<TProgramExit> FInstallerExit;
    QList<TModuleReport> FModules;
};

// How the installer ended, in one sentence for the person ("... mit dem Status 1 beendet."); one
// that could not start is named with the system's reason where it gives one (Windows).
QString InstallerExitText(const TProgramExit& exit);

// The diagnostic log at the start of a search the person asked for: a new buffer, then the
// "Timestamp: " and "Updatesuche gestartet" lines.
void BeginSearchLog();
// The diagnostic log at the program's end: "VorlandtOnlineUpdater beendet", the file written and
// the buffer discarded. Raises EVorlandtError when the file cannot be written.
void FinishProgramLog();
