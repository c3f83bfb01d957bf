// Handing accepted updates to the installer: the job line of one update, the update job file
// in the user's private temporary directory, and the installer's start with "-DoUpdateJobs".
#pragma once

#include "core/catalog/Updates.h"
#include "core/services/BasicProcs.h"

#include <QString>

inline const QString JobFileName = QStringLiteral("VL_Update_Jobfile.vuj");
inline const QString InstallerFileName = QStringLiteral("VorlandtUpdate.exe");
// The updater's own version number, the first field of every job line.
inline constexpr qint32 UpdaterVersionNumber = 6;

// "6;<tempDir><XMLFilename>;ModulNr;Hauptversion;Nebenversion;Unterversion;s|-;-;Modulbezeichnung".
// A line break inside a text field becomes a blank, so that one update is always one line.
QString FormatJobLine(const QString& tempDir, const TUpdateIdentifier& key, const TUpdateNode& node,
                      const TModulInformation& modul);

// platform::PrivateTempFolder() + "VL_Update_Jobfile.vuj": the one place the run deletes it, the
// writer writes it and the installer reads it. Raises EVorlandtError when the folder is unusable.
QString JobFilePath();

// Replaces the job file with the job lines of `updates` in the order of SortedUpdateKeys, each
// followed by CR LF, in Windows-1252, mode 0600. Raises EVorlandtError (kind InOut) when it cannot be
// written; the earlier file then stays as it was.
void WriteJobFile(const TUpdates& updates);

// The installer's folder ("Pfad" under the suite's machine-wide settings), ending with a
// separator; /opt/KRSoftware/ (on Windows c:\Programme\KRSoftware\) when none or no absolute one
// is registered.
QString InstallerFolder();

// Starts the installer with "-DoUpdateJobs" and returns when it has ended, events processed
// meanwhile. True when it could be started; a failure is only logged. The folder goes to
// *FDLLPfad when given, how the installer ended to *exit.
bool StartInstaller(QString* FDLLPfad = nullptr, TProgramExit* exit = nullptr);
