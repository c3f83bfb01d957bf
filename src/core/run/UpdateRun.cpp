// The update run: the gates, the pass over the module registrations, the question to the person,
// the wait for running modules and the hand-off to the installer.
#include "core/run/UpdateRun.h"

#include "core/catalog/JobHandOff.h"
#include "core/catalog/Updates.h"
#include "core/platform/Clock.h"
#include "core/platform/files/FileLock.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/DateFormat.h"
#include "core/run/Journal.h"
#include "core/services/BusyCheck.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Policy.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/settings/CheckSchedule.h"
#include "core/settings/EffectiveSettings.h"
#include "core/sources/TransferCancel.h"
#include "core/sources/UpdateCheck.h"

#include <QFile>
#include <QStringList>

#include <utility>
#include <vector>

namespace {

using platform::TSyslogPriority;

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

const QString SearchCancelledReason = QStringLiteral("Suche abgebrochen");

// A registration as its subkey names it, switched off or yet to be checked.
TModuleReport RegistrationReport(const QString& name)
{
    TModuleReport report;
    report.Registration = name;
    const QString key = SettingsKeys::OnlineUpdateModule + name;
    if (ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::ModuleDisabledRun,
                         SettingsKeys::ModuleDisabledRunDefault) == 1) {
        report.Outcome = TModuleReport::TOutcome::Skipped;
        return report;
    }
    report.Outcome = TModuleReport::TOutcome::NotChecked;
    report.ModulNr =
        ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, SettingsKeys::UpdateIDDefault);
    report.Hauptversion = ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateHauptversion,
                                           SettingsKeys::UpdateHauptversionDefault);
    report.Modulbezeichnung = ReadStringValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateModulbezeichnung,
                                              SettingsKeys::UpdateModulbezeichnungDefault);
    return report;
}

TModuleReport::TOutcome OutcomeOf(const TModuleCheck& check)
{
    using TKind = TModuleCheck::TKind;
    using TOutcome = TModuleReport::TOutcome;
    switch (check.Kind) {
        case TKind::Read:
            return TOutcome::UpToDate;  // until the catalog shows pending updates
        case TKind::Unreachable:
            return TOutcome::Unreachable;
        case TKind::Missing:
            return TOutcome::Missing;
        case TKind::SignatureRefused:
            return TOutcome::SignatureRefused;
        case TKind::Malformed:
            return TOutcome::Malformed;
        case TKind::NotChecked:
            break;
    }
    return TOutcome::NotChecked;
}

// The warning of a search that reached no update source at all: it checked nothing, so it must
// not say that the software is up to date.
QString NoSourceWarning(const TModuleReport& report)
{
    const QString reason = report.Reason.isEmpty() ? QStringLiteral("Keine Antwort") : report.Reason;
    if (report.Source.isEmpty() || report.Outcome != TModuleReport::TOutcome::Unreachable)
        return QStringLiteral("Keine Update-Quelle ist erreichbar: %1.").arg(reason);
    return QStringLiteral(
               "Der Update-Server %1 ist nicht erreichbar: %2. Bitte prüfen Sie die "
               "Internetverbindung und die Proxy-Einstellungen.")
        .arg(report.Source, reason);
}

QString NoFolderWarning(const TModuleReport& report)
{
    return QStringLiteral(
               "Das lokale Update-Verzeichnis \"%1\" ist nicht erreichbar: %2. Bitte prüfen Sie, "
               "ob es eingebunden ist, und das Verzeichnis in den Einstellungen.")
        .arg(report.Source, report.Reason);
}

// An update address without encryption is taken as it is (a closed network may mean it), but
// said once per search, in the diagnostic log and the journal: anyone on the way can change
// what such a server answers, unless the descriptors are signed.
void ReportUnencryptedSource()
{
    if (!ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource, QString())
             .isEmpty())
        return;
    const QString address = ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate,
                                            SettingsKeys::UpdateURL, SettingsKeys::UpdateURLDefault);
    if (!IsUnencryptedAddress(address))
        return;
    const QString text = QStringLiteral("Update-Adresse ohne Verschlüsselung (http statt https)%1: %2")
                             .arg(IsSetByPolicy(SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL)
                                      ? QStringLiteral(", von der Richtlinie vorgegeben")
                                      : QString(),
                                  address);
    WriteLog(TLogAction::AppendLine, QStringLiteral("Updatesuche - ") + text);
    WriteJournal(TSyslogPriority::Warning, text);
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
    // Closing the window or interrupting the console program stops this run's transfers; the
    // run after it starts afresh.
    const sources::TTransferCancel transfers;
    FOtherRunActive = false;
    FNoSourceAnswered = false;
    FCancelled = false;
    FStoppedAtGate = false;
    FGateReason.clear();
    FPendingUpdates = 0;
    FNoSourceText.clear();
    FInstallerExit.reset();
    FModules.clear();
    // One run per user at a time: a second one would delete and rewrite the job file and the
    // temporary entries while the first hands them to its installer.
    const platform::TFileLock runLock =
        platform::TFileLock::TryLockFile(platform::PrivateTempFolder() + RunLockFileName);
    if (!runLock.Held()) {
        FOtherRunActive = true;
        WriteJournal(TSyslogPriority::Info,
                     QStringLiteral("Suche nach Updates nicht begonnen: eine andere Suche läuft bereits"));
        MessageDialog(QStringLiteral("Es läuft bereits eine Suche nach Updates."), TMsgDlgType::mtInformation,
                      TMsgDlgButtons::mbOK, 0);
        return;
    }

    WriteJournal(TSyslogPriority::Info, QStringLiteral("Suche nach Updates begonnen (%1)")
                                            .arg(FCheckOnly ? QStringLiteral("nur prüfen")
                                                 : Manual   ? QStringLiteral("von Hand")
                                                            : QStringLiteral("Autostart")));
    // What the administrator set but the program does not heed, once per search: in a fleet the
    // journal is where a misspelt policy value shows.
    if (const QString policy = PolicyJournalText(); !policy.isEmpty())
        WriteJournal(TSyslogPriority::Warning, QStringLiteral("Richtlinie nicht vollständig beachtet: ") + policy);
    ReportUnencryptedSource();
    FReported = false;
    try {
        RunSteps(Manual);
    } catch (const std::exception& error) {
        ReportToJournal();
        WriteJournal(TSyslogPriority::Error, QStringLiteral("Suche nach Updates mit Fehler beendet: ") +
                                                 (dynamic_cast<const EVorlandtError*>(&error)
                                                      ? static_cast<const EVorlandtError&>(error).message()
                                                      : QString::fromLocal8Bit(error.what())));
        throw;
    }
    ReportToJournal();
    QString end;
    if (FCancelled)
        end = QStringLiteral("abgebrochen");
    else if (FStoppedAtGate)
        end = QStringLiteral("nicht ausgeführt: ") + FGateReason;
    else if (FNoSourceAnswered)
        end = QStringLiteral("keine Update-Quelle erreichbar");
    else if (FPendingUpdates == 0)
        end = QStringLiteral("keine neuen Updates");
    else
        end = QStringLiteral("%1 Updates anstehend").arg(FPendingUpdates);
    WriteJournal(FNoSourceAnswered ? TSyslogPriority::Warning : TSyslogPriority::Info,
                 QStringLiteral("Suche nach Updates beendet: ") + end);
}

void TUpdateRun::RunSteps(bool Manual)
{
    // A job file left from an earlier run must never be carried out by a later installer start.
    // A search that only looks starts no installer and leaves the file alone.
    const QString jobFile = JobFilePath();
    if (!FCheckOnly && !platform::RemoveName(jobFile).isEmpty())
        throw EVorlandtError(jobFile + QStringLiteral(" konnte nicht gelöscht werden."),
                             EVorlandtError::Kind::InOut);
    // Temporary log entries stay: each lives until a later search writes the entry of the same
    // update anew. An installer that adds its entry only at the next log-on, after a later
    // search began, still finds the text, and so does a declined update installed another day.
    FUpdates.Clear();
    FUpdateCheck.ReloadSignatureKeys();

    const qint32 disable = ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate,
                                            SettingsKeys::Disable, SettingsKeys::DisableDefault);
    if (disable == 1 && !Manual) {
        FStoppedAtGate = true;
        FGateReason = IsSetByPolicy(SettingsKeys::OnlineUpdate, SettingsKeys::Disable)
                          ? QStringLiteral("automatische Suche durch die Richtlinie abgeschaltet (Disable = 1)")
                          : QStringLiteral("automatische Suche vom Benutzer abgeschaltet (Disable = 1)");
        return;
    }

    // Showing a news item marks it seen or postpones it: a search that only looks leaves both.
    if (!FCheckOnly) {
        FUpdateCheck.CheckForNews();
        if ((FCancelled = Cancelled())) {
            QStringList registrations;
            if (GetSubKeyNames(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule, registrations))
                ReportNotChecked(registrations);
            return;
        }
    }

    if (!Manual && !LetztesUpdateLangGenugHer()) {
        FStoppedAtGate = true;
        const TCheckSchedule schedule = ReadCheckSchedule();
        FGateReason = QStringLiteral("Prüfintervall von %1 Stunden seit der letzten Prüfung am %2 nicht abgelaufen%3")
                          .arg(schedule.IntervalHours)
                          .arg(platform::DateTimeToStr(schedule.LastCheck))
                          .arg(IsSetByPolicy(SettingsKeys::OnlineUpdate, SettingsKeys::IntervalInHours)
                                   ? QStringLiteral(" (Intervall durch die Richtlinie festgelegt)")
                                   : QString());
        return;
    }

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

        TModuleReport& report = FModules.emplace_back(RegistrationReport(name));
        if (report.Outcome == TModuleReport::TOutcome::Skipped)
            continue;
        FUpdateCheck.ReadVersionTree(report.Modulbezeichnung, report.ModulNr, report.Hauptversion, Manual);
        if ((FCancelled = Cancelled())) {
            // The module in transfer was not checked, nor was any after it: a cancelled search
            // never calls them switched off or up to date.
            FModules.removeLast();
            ReportNotChecked(registrations);
            return;
        }
        const TModuleCheck& check = FUpdateCheck.LastModuleCheck();
        report.Outcome = OutcomeOf(check);
        report.Source = check.Source;
        report.File = check.File;
        report.Reason = check.Reason;
        if (report.Outcome == TModuleReport::TOutcome::NotChecked)
            continue;
        ++fetched;
        if (FUpdateCheck.SourceAnswered())
            ++answered;
        else if (FNoSourceText.isEmpty())
            FNoSourceText = check.SourceIsFolder ? NoFolderWarning(report) : NoSourceWarning(report);
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
    // A search that only looks leaves the next automatic search as due as it was.
    FNoSourceAnswered = fetched > 0 && answered == 0;
    if (!FNoSourceAnswered && !FCheckOnly)
        RecordCheckTimeOrLog();

    FUpdates.RemoveOutdatedUpdates();
    const QList<TUpdateIdentifier> pending = FUpdates.SortedUpdateKeys();
    FPendingUpdates = static_cast<int>(pending.size());
    for (const TUpdateIdentifier& update : pending) {
        for (TModuleReport& report : FModules) {
            if (report.ModulNr != update.ModulNr || report.Outcome == TModuleReport::TOutcome::Skipped)
                continue;
            // A descriptor that went wrong after its first updates keeps saying so.
            if (report.Outcome == TModuleReport::TOutcome::UpToDate)
                report.Outcome = TModuleReport::TOutcome::UpdatesOffered;
            report.Versions << QStringLiteral("%1.%2.%3")
                                   .arg(report.Hauptversion)
                                   .arg(update.Nebenversion)
                                   .arg(update.Unterversion);
            break;
        }
    }
    ReportToJournal();
    if (FCheckOnly) {
        if (FPendingUpdates > 0)
            FrontEnd().ShowPendingUpdates(FUpdates);
        else
            ShowUpdateNotification();
        return;
    }
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
    const QString installer = InstallerFolder() + InstallerFileName;
    WriteJournal(TSyslogPriority::Info, QStringLiteral("Installationsprogramm gestartet: ") + installer);
    TProgramExit exit;
    StartInstaller(&FDLLPfad, &exit);
    FInstallerExit = exit;
    WriteJournal(exit.Succeeded() ? TSyslogPriority::Info : TSyslogPriority::Error, InstallerExitText(exit));
}

void TUpdateRun::ReportNotChecked(const QStringList& registrations)
{
    for (qsizetype i = FModules.size(); i < registrations.size(); ++i) {
        TModuleReport& report = FModules.emplace_back(RegistrationReport(registrations[i]));
        if (report.Outcome == TModuleReport::TOutcome::Skipped)
            continue;
        report.Outcome = TModuleReport::TOutcome::NotChecked;
        report.Reason = SearchCancelledReason;
    }
}

void TUpdateRun::ReportToJournal()
{
    // Once per run: after the pass, or at the end of a run that did not finish it.
    if (std::exchange(FReported, true))
        return;
    using TOutcome = TModuleReport::TOutcome;
    for (const TModuleReport& report : FModules) {
        QString outcome;
        TSyslogPriority priority = TSyslogPriority::Warning;
        switch (report.Outcome) {
            case TOutcome::UpToDate:
                continue;
            case TOutcome::NotChecked:
                // Stopped by the interval of its own check: nothing to tell.
                if (report.Reason.isEmpty())
                    continue;
                outcome = QStringLiteral("nicht geprüft (%1)").arg(report.Reason);
                priority = TSyslogPriority::Info;
                break;
            case TOutcome::Skipped:
                outcome = QStringLiteral("übersprungen (in der Registrierung abgeschaltet)");
                priority = TSyslogPriority::Info;
                break;
            case TOutcome::UpdatesOffered:
                outcome = QStringLiteral("Updates verfügbar: ") + report.Versions.join(QStringLiteral(", "));
                priority = TSyslogPriority::Info;
                break;
            case TOutcome::Unreachable:
                outcome =
                    QStringLiteral("Update-Quelle %1 nicht erreichbar: %2").arg(report.Source, report.Reason);
                break;
            case TOutcome::Missing:
                outcome = QStringLiteral("keine Update-Beschreibung vorhanden");
                priority = TSyslogPriority::Info;
                break;
            case TOutcome::SignatureRefused:
                outcome = QStringLiteral("Signatur von %1 abgelehnt: %2").arg(report.File, report.Reason);
                break;
            case TOutcome::Malformed:
                outcome = QStringLiteral("Update-Beschreibung %1 fehlerhaft: %2").arg(report.File, report.Reason);
                break;
        }
        const QString module = report.Outcome == TOutcome::Skipped
                                   ? QStringLiteral("Modul %1").arg(report.Registration)
                                   : QStringLiteral("Modul %1 (Nr. %2, %3)")
                                         .arg(report.Registration)
                                         .arg(report.ModulNr)
                                         .arg(report.Modulbezeichnung);
        WriteJournal(priority, module + QStringLiteral(": ") + outcome);
    }
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
        if (FAutostartModus)
            return false;
        QStringList unchecked;
        for (const TModuleReport& report : UncheckedModules()) {
            if (FUncheckedNamedByCaller || report.Outcome == TModuleReport::TOutcome::SignatureRefused)
                unchecked << UncheckedModuleText(report);
        }
        if (FNoSourceAnswered) {
            WriteLog(TLogAction::AppendLine, QStringLiteral("ShowUpdateNotification - ") + FNoSourceText);
            MessageDialog(FNoSourceText, TMsgDlgType::mtWarning, TMsgDlgButtons::mbOK, 0);
        } else if (!unchecked.isEmpty()) {
            // A refused signature may be a tampered mirror: never "up to date" for it.
            QString text = QStringLiteral("Keine neuen Updates gefunden, aber nicht alle Module konnten geprüft werden");
            text += FUncheckedNamedByCaller ? QStringLiteral(".")
                                            : QStringLiteral(":") + CrLf + CrLf + unchecked.join(CrLf);
            MessageDialog(text, TMsgDlgType::mtWarning, TMsgDlgButtons::mbOK, 0);
        } else {
            MessageDialog(QStringLiteral("Keine neuen Updates gefunden.") + CrLf + CrLf +
                              QStringLiteral("Ihre Software ist auf dem neuesten Stand."),
                          TMsgDlgType::mtInformation, TMsgDlgButtons::mbOK, 0);
        }
        return false;
    }
    return FrontEnd().ConfirmUpdates(FUpdates);
}

bool CouldNotBeChecked(TModuleReport::TOutcome outcome)
{
    using TOutcome = TModuleReport::TOutcome;
    return outcome == TOutcome::Unreachable || outcome == TOutcome::SignatureRefused ||
           outcome == TOutcome::Malformed;
}

QString UncheckedModuleText(const TModuleReport& report)
{
    const QString reason = report.Reason.isEmpty() ? QStringLiteral("Keine Antwort") : report.Reason;
    if (report.File.isEmpty())
        return QStringLiteral("%1: %2").arg(report.Modulbezeichnung, reason);
    return QStringLiteral("%1 (%2): %3").arg(report.Modulbezeichnung, report.File, reason);
}

QList<TModuleReport> TUpdateRun::UncheckedModules() const
{
    QList<TModuleReport> unchecked;
    if (FNoSourceAnswered)
        return unchecked;
    for (const TModuleReport& report : FModules) {
        if (CouldNotBeChecked(report.Outcome))
            unchecked.append(report);
    }
    return unchecked;
}

QString InstallerExitText(const TProgramExit& exit)
{
    if (!exit.Started)
        return QStringLiteral("Das Installationsprogramm \"%1\" lässt sich nicht starten: %2.")
            .arg(exit.Program, exit.Error.isEmpty() ? QStringLiteral("Unbekannter Fehler") : exit.Error);
    if (exit.Signalled)
        return QStringLiteral("Das Installationsprogramm wurde durch das Signal %1 beendet.").arg(exit.Code);
    return QStringLiteral("Das Installationsprogramm wurde mit dem Status %1 beendet.").arg(exit.Code);
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
