// The update run: the gates, the pass over the module registrations, the question to the person,
// the wait for running modules and the hand-off to the installer.
#include "core/run/UpdateRun.h"

#include "core/catalog/JobHandOff.h"
#include "core/catalog/Updates.h"
#include "core/platform/Clock.h"
#include "core/platform/FileLock.h"
#include "core/platform/PrivateFolder.h"
#include "core/platform/RegionalFormat.h"
#include "core/platform/VorlandtError.h"
#include "core/services/BusyCheck.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/Descriptor.h"
#include "core/sources/TransferCancel.h"
#include "core/sources/UpdateCheck.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

const QString CrLf = QStringLiteral("\r\n");
// Held for the whole run in the user's private temporary folder.
const QString RunLockFileName = QStringLiteral("VL_UpdateRun.lock");

QString BusyWarning(const QString& running)
{
    return QStringLiteral("Die folgenden Module sind zur Zeit aktiv:") + CrLf + CrLf + running + CrLf + CrLf +
           QStringLiteral(u"Daher können anstehende Updates leider nicht durchgeführt werden.") + CrLf +
           CrLf + QStringLiteral("Bitte beenden Sie die genannten Module, bevor Sie fortfahren.");
}

// The time of the check is a side matter of the run: a store that cannot be written (read-only
// home folder, full disk) must not keep the pending updates from the person. The next run
// simply checks again.
void RecordCheckTimeOrLog()
{
    try {
        RecordCheckTime();
    } catch (const EVorlandtError& error) {
        WriteLog(TLogAction::AppendLine, QStringLiteral("RecordCheckTime - Fehler: ") + error.message());
    }
}

// The window was closed or the console program interrupted during a transfer: the run ends
// without asking, recording or writing anything more.
bool Cancelled()
{
    if (!sources::TransfersCancelled())
        return false;
    WriteLog(TLogAction::AppendLine, QStringLiteral("Updatesuche abgebrochen"));
    return true;
}

// The modules (ID, main version) whose descriptors the pass below will ask for.
std::vector<std::pair<int, int>> ModulesToCheck(const QStringList& registrations)
{
    std::vector<std::pair<int, int>> modules;
    for (const QString& name : registrations) {
        const QString key = SettingsKeys::OnlineUpdateModule + name;
        if (ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::ModuleDisabledRun,
                             SettingsKeys::ModuleDisabledRunDefault) == 1)
            continue;
        modules.emplace_back(
            ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, SettingsKeys::UpdateIDDefault),
            ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateHauptversion,
                             SettingsKeys::UpdateHauptversionDefault));
    }
    return modules;
}

// Ends the fetching ahead on every way out of the pass.
class TFetchAhead {
public:
    TFetchAhead(TUpdateCheck& check, const QStringList& registrations) : FCheck(check)
    {
        FCheck.FetchUpdateXMLsAhead(ModulesToCheck(registrations));
    }
    ~TFetchAhead() { FCheck.EndFetchAhead(); }
    TFetchAhead(const TFetchAhead&) = delete;
    TFetchAhead& operator=(const TFetchAhead&) = delete;

private:
    TUpdateCheck& FCheck;
};

}  // namespace

TUpdateRun::TUpdateRun(TUpdates& Updates, TUpdateCheck& UpdateCheck, bool AutostartModus)
    : FUpdates(Updates), FUpdateCheck(UpdateCheck), FAutostartModus(AutostartModus)
{
}

void TUpdateRun::RunUpdateCheck(bool Manual)
{
    FOtherRunActive = false;
    // One run per user at a time: a second one would delete and rewrite the job file and the
    // temporary entries while the first hands them to its installer.
    const platform::TFileLock runLock =
        platform::TFileLock::TryLockFile(platform::PrivateTempFolder() + RunLockFileName);
    if (!runLock.Held()) {
        FOtherRunActive = true;
        MessageDialog(QStringLiteral("Es läuft bereits eine Suche nach Updates."), TMsgDlgType::mtInformation,
                      TMsgDlgButtons::mbOK, 0);
        return;
    }

    // A job file left from an earlier run must never be carried out by a later installer start.
    const QString jobFile = JobFilePath();
    if (::unlink(QFile::encodeName(jobFile).constData()) != 0 && errno != ENOENT)
        throw EVorlandtError(jobFile + QStringLiteral(" konnte nicht gelöscht werden."),
                             EVorlandtError::Kind::InOut);
    // The temporary log entries of an earlier run go with its job file; this run's own go at its
    // end, unless it hands them to the installer.
    RemoveTempEntries();
    const TTempEntryCleanup tempEntries;
    FUpdates.Clear();
    FUpdateCheck.ReloadSignatureKeys();

    const qint32 disable = ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate,
                                            SettingsKeys::Disable, SettingsKeys::DisableDefault);
    if (disable == 1 && !Manual)
        return;

    FUpdateCheck.CheckForNews();
    if (Cancelled())
        return;

    if (!Manual && !LetztesUpdateLangGenugHer())
        return;

    QStringList registrations;
    if (!GetSubKeyNames(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule, registrations))
        return;

    const int maximum = static_cast<int>(registrations.size());
    FrontEnd().ShowProgress(0, maximum, QString());
    int position = 0;
    int fetched = 0;   // registrations whose descriptor was asked for
    int answered = 0;  // ... and whose source gave an answer, whatever it was
    const TFetchAhead fetchAhead(FUpdateCheck, registrations);
    for (const QString& name : registrations) {
        FrontEnd().ShowProgress(position + 1, maximum,
                                QStringLiteral(u"[%1/%2] Überprüfe %3...")
                                    .arg(position + 1, 2, 10, QLatin1Char('0'))
                                    .arg(maximum, 2, 10, QLatin1Char('0'))
                                    .arg(name));
        ++position;

        const QString key = SettingsKeys::OnlineUpdateModule + name;
        if (ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::ModuleDisabledRun,
                             SettingsKeys::ModuleDisabledRunDefault) == 1)
            continue;
        const qint32 hauptversion =
            ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateHauptversion,
                             SettingsKeys::UpdateHauptversionDefault);
        const qint32 id =
            ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, SettingsKeys::UpdateIDDefault);
        const QString modulbezeichnung =
            ReadStringValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateModulbezeichnung,
                            SettingsKeys::UpdateModulbezeichnungDefault);
        FUpdateCheck.ReadVersionTree(modulbezeichnung, id, hauptversion, Manual);
        if (Cancelled())
            return;
        ++fetched;
        if (FUpdateCheck.SourceAnswered())
            ++answered;
    }
    FUpdateCheck.EndFetchAhead();

    // Recorded only now: the per-module interval gate of an autostart run reads the same value,
    // and an earlier record would have closed it for every module of this very run.
    // A run that reached no update source at all (a log-on before the network is up, a laptop
    // offline) checked nothing: recording it would silence the automatic search for the whole
    // interval, so the next start tries again. One answer is enough, though: all descriptors
    // come from the same download server or folder, so when one answered the machine was online
    // and the silence of the others is that server's trouble with those files. Trying again at
    // every start would then repeat the whole search, including the modules that did answer,
    // without curing a file that stays broken; the interval brings the next try, and a search
    // by hand is always possible. A run without registrations to check has nothing to reach.
    if (fetched == 0 || answered > 0)
        RecordCheckTimeOrLog();

    FUpdates.RemoveOutdatedUpdates();
    FUpdates.CreateCommandLineParameters();
    FUpdates.WriteRTFFiles();

    if (!ShowUpdateNotification())
        return;

    for (QString running = VorlandtProzesseAktiv(); !running.isEmpty(); running = VorlandtProzesseAktiv()) {
        if (MessageDialog(BusyWarning(running), TMsgDlgType::mtWarning, TMsgDlgButtons::mbAbortRetry, 0) ==
            mrAbort)
            return;
    }

    WriteJobFile(FUpdates);
    StartInstaller(&FDLLPfad);
}

bool TUpdateRun::LetztesUpdateLangGenugHer()
{
    return LoggedCall<bool>(QStringLiteral("LetztesUpdateLangGenugHer - Start"),
                            QStringLiteral("LetztesUpdateLangGenugHer - Ende - Result: "),
                            [] { return ReadCheckSchedule().Due(); });
}

bool TUpdateRun::ShowUpdateNotification()
{
    if (FUpdates.UpdateDictionary().empty()) {
        if (!FAutostartModus)
            MessageDialog(QStringLiteral("Keine neuen Updates gefunden.") + CrLf + CrLf +
                              QStringLiteral("Ihre Software ist auf dem neuesten Stand."),
                          TMsgDlgType::mtInformation, TMsgDlgButtons::mbOK, 0);
        return false;
    }
    return FrontEnd().ConfirmUpdates(FUpdates);
}

void BeginSearchLog()
{
    WriteLog(TLogAction::StartBuffer, QString());
    WriteLog(TLogAction::AppendLine,
             QStringLiteral("Timestamp: ") +
                 platform::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn"), platform::Clock::now()));
    WriteLog(TLogAction::AppendLine, QStringLiteral("Updatesuche gestartet"));
}

void FinishProgramLog()
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("VorlandtOnlineUpdater beendet"));
    WriteLog(TLogAction::SaveFile, QString());
    WriteLog(TLogAction::DiscardBuffer, QString());
}
