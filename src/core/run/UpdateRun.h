// One update run over all module registrations: news, descriptors, the pending updates shown
// for acceptance, the wait for running modules, the job file and the installer. Widget-free: it
// talks to the person only through the front end in charge, so the main window, the console
// front end and the tests all run the very same steps.
#pragma once

#include <QString>

class TUpdates;
class TUpdateCheck;

class TUpdateRun {
public:
    // Neither is owned; both must outlive the run. `AutostartModus` silences the message that
    // nothing was found.
    TUpdateRun(TUpdates& Updates, TUpdateCheck& UpdateCheck, bool AutostartModus);

    // The run; `Manual` is false for an autostart run, where the "Disable" switch and the check
    // interval apply. Errors are not caught here: they end the run and reach the caller. While
    // another run of this user is active nothing is done but saying so.
    void RunUpdateCheck(bool Manual);
    // True when the last RunUpdateCheck found another run active and did nothing.
    bool OtherRunActive() const { return FOtherRunActive; }

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
};

// The diagnostic log at the start of a search the person asked for: a new buffer, then the
// "Timestamp: " and "Updatesuche gestartet" lines.
void BeginSearchLog();
// The diagnostic log at the program's end: "VorlandtOnlineUpdater beendet", the file written and
// the buffer discarded. Raises EVorlandtError when the file cannot be written.
void FinishProgramLog();
