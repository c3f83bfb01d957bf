// Free-standing helpers the rest of the updater shares: ini lookups, the temporary and data
// directories, program and document starts, module folders and the feedback tool. They keep no
// state between calls; every call looks its answer up afresh.
#pragma once

#include "core/services/FrontEnd.h"

#include <QString>

class QObject;

// The text after the first "=" of the first line of FileName (".ini" appended when missing)
// whose part before that "=" equals Key without regard to case; empty when the file or the
// line is missing. Raises EVorlandtError (kind InOut) when the file exists but cannot be read.
QString GetStrInfoFromIni(const QString& FileName, const QString& Key);

// The user's private temporary directory (platform::PrivateTempFolder), ending with "/". Raises
// EVorlandtError naming the folder and the reason when it is missing, not private or cannot be
// made.
QString GetTempDir();

// The data directory, ending with "/", created with all parents: $VORLANDT_PROGRAMDATA (else
// /var/lib) followed by "Vorlandt/OnlineUpdater/1.0/". When that folder cannot be used by this
// user (the variable is set but empty or relative, or the folder cannot be created or written),
// the suite's folder "Pfad" from the machine-wide store is used instead, or the temporary
// directory when none (or no absolute one) is registered.
QString GetDataDir();

// Start-up probe: makes sure the data directory exists by creating and deleting "vltest.ini" in
// it. Failures are ignored.
void CheckTestMarker();

// How a program that was started and waited for ended.
struct TProgramExit {
    QString Program;  // the file as it was asked to start
    bool Started = false;
    bool Signalled = false;  // ended by a signal, whose number Code then is
    int Code = 0;            // the exit status
    QString Error;           // why it could not be started, in the system's words
    bool Succeeded() const { return Started && !Signalled && Code == 0; }
};

// Starts a program or opens a document or address. Without waiting, an executable regular file
// starts detached and anything else (documents, folders, http/https/mailto addresses) goes to
// the front end's OpenDocument; with waiting, the file is started as a child process and the
// call returns when it has ended, processing pending events every 10 ms meanwhile. Relative
// names count from the current folder; the program runs in StartEXEWorkingDir(file). True when
// the start succeeded (the exit code is not looked at). `owner` is kept for callers that pass
// their window; nothing on Linux needs it.
// With `exit` given and waiting, *exit says how the program ended, or, where the system gives
// one (Windows), why it could not be started.
bool StartEXE(QObject* owner, const QString& file, const QString& parameters, bool wait,
              TProgramExit* exit = nullptr);

// The folder a program started by StartEXE runs in: the file name up to and including its last
// "/", "\" or ":"; empty (the current folder) when it has none.
QString StartEXEWorkingDir(const QString& file);

// The user manual's start page: $VORLANDT_HELP when set (tests, demos, a manual kept elsewhere),
// else "share/vorlandt-online-updater/hilfe/index.html" beside the program's "bin" folder, so that
// an installation under /usr, /usr/local or a staging prefix finds its own manual.
QString HelpIndexFile();

// The address of the manual's part about help context `helpContext`: the start page as a file
// address with the anchor "kontext-<number>"; 0 or less gives the start page itself.
QString HelpTopicAddress(const QString& indexFile, int helpContext);

// The registered install folder ("Pfad") of a module of the suite, as stored; empty when the
// module is not registered.
QString GetModulPfad(const QString& name);

// Loads "FeedbackTool.so" from the folder of the module "STD_EINSTELLUNGEN" and calls its
// initFeedbackInclProduct; failures are shown as error message boxes. The library stays loaded.
void StartFeedbackTool();
