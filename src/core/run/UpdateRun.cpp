// The update run: the gates, the pass over the module registrations, the question to the person,
// the wait for running modules and the hand-off to the installer.
#include "core/run/UpdateRun.h"

#include "core/catalog/JobHandOff.h"
#include "core/catalog/Updates.h"
#include "core/platform/Clock.h"
#include "core/platform/RegionalFormat.h"
#include "core/services/BusyCheck.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"

#include <QFile>
#include <QStringList>

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString BusyWarning(const QString& running)
{
    return QStringLiteral("Die folgenden Module sind zur Zeit aktiv:") + CrLf + CrLf + running + CrLf + CrLf +
           QStringLiteral(u"Daher können anstehende Updates leider nicht durchgeführt werden.") + CrLf +
           CrLf + QStringLiteral("Bitte beenden Sie die genannten Module, bevor Sie fortfahren.");
}

}  // namespace

TUpdateRun::TUpdateRun(TUpdates& Updates, TUpdateCheck& UpdateCheck, bool AutostartModus)
    : FUpdates(Updates), FUpdateCheck(UpdateCheck), FAutostartModus(AutostartModus)
{
}

void TUpdateRun::RunUpdateCheck(bool Manual)
{
    // A job file left from an earlier run must never be carried out by a later installer start.
    QFile::remove(JobFilePath());
    FUpdates.Clear();

    const qint32 disable = ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate,
                                            SettingsKeys::Disable, SettingsKeys::DisableDefault);
    if (disable == 1 && !Manual)
        return;

    FUpdateCheck.CheckForNews();

    if (!Manual && !LetztesUpdateLangGenugHer())
        return;

    QStringList registrations;
    if (!GetSubKeyNames(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule, registrations))
        return;

    const int maximum = static_cast<int>(registrations.size());
    FrontEnd().ShowProgress(0, maximum, QString());
    int position = 0;
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
    }

    // Recorded only now: the per-module interval gate of an autostart run reads the same value,
    // and an earlier record would have closed it for every module of this very run.
    RecordCheckTime();

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
    WriteLog(1, QString());
    WriteLog(2, QStringLiteral("Timestamp: ") +
                    platform::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn"), platform::Clock::now()));
    WriteLog(2, QStringLiteral("Updatesuche gestartet"));
}

void FinishProgramLog()
{
    WriteLog(2, QStringLiteral("VorlandtOnlineUpdater beendet"));
    WriteLog(4, QString());
    WriteLog(3, QString());
}
