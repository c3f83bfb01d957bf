// The JSON report: names that stay the same whatever the German texts say.
#include "core/run/RunReport.h"

#include "core/run/UpdateRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using TOutcome = TModuleReport::TOutcome;

QString OutcomeName(TOutcome outcome)
{
    switch (outcome) {
        case TOutcome::Skipped:
            return QStringLiteral("skipped");
        case TOutcome::NotChecked:
            return QStringLiteral("not-checked");
        case TOutcome::UpdatesOffered:
            return QStringLiteral("updates-offered");
        case TOutcome::UpToDate:
            return QStringLiteral("up-to-date");
        case TOutcome::Unreachable:
            return QStringLiteral("source-unreachable");
        case TOutcome::Missing:
            return QStringLiteral("descriptor-missing");
        case TOutcome::SignatureRefused:
            return QStringLiteral("signature-refused");
        case TOutcome::Malformed:
            return QStringLiteral("descriptor-malformed");
    }
    return QStringLiteral("not-checked");
}

QJsonObject ModuleObject(const TModuleReport& report)
{
    QJsonObject module;
    module.insert(QStringLiteral("registration"), report.Registration);
    module.insert(QStringLiteral("outcome"), OutcomeName(report.Outcome));
    if (report.Outcome == TOutcome::Skipped)
        return module;
    module.insert(QStringLiteral("module"), report.ModulNr);
    module.insert(QStringLiteral("majorVersion"), report.Hauptversion);
    module.insert(QStringLiteral("name"), report.Modulbezeichnung);
    if (!report.Versions.isEmpty())
        module.insert(QStringLiteral("versions"), QJsonArray::fromStringList(report.Versions));
    if (!report.Source.isEmpty() && report.Outcome != TOutcome::NotChecked)
        module.insert(QStringLiteral("source"), report.Source);
    if (!report.File.isEmpty())
        module.insert(QStringLiteral("file"), report.File);
    if (!report.Reason.isEmpty())
        module.insert(QStringLiteral("reason"), report.Reason);
    return module;
}

}  // namespace

QString RunResultName(const TUpdateRun& run, const QString& error)
{
    if (!error.isEmpty())
        return QStringLiteral("error");
    if (run.OtherRunActive())
        return QStringLiteral("other-search-running");
    if (run.Interrupted())
        return QStringLiteral("cancelled");
    if (run.StoppedAtGate())
        return QStringLiteral("not-due");
    if (run.NoSourceAnswered())
        return QStringLiteral("no-source-reachable");
    if (run.InstallerExit())
        return run.InstallerExit()->Succeeded() ? QStringLiteral("installed")
                                                : QStringLiteral("installer-failed");
    if (run.PendingUpdates() > 0)
        return QStringLiteral("updates-pending");
    for (const TModuleReport& report : run.Modules()) {
        if (CouldNotBeChecked(report.Outcome))
            return QStringLiteral("incomplete");
    }
    return QStringLiteral("up-to-date");
}

QByteArray RunReportJson(const TUpdateRun* run, int exitStatus, const QString& error)
{
    QJsonObject report;
    report.insert(QStringLiteral("result"), run ? RunResultName(*run, error) : QStringLiteral("error"));
    report.insert(QStringLiteral("exitStatus"), exitStatus);
    if (!error.isEmpty())
        report.insert(QStringLiteral("error"), error);
    report.insert(QStringLiteral("pendingUpdates"), run ? run->PendingUpdates() : 0);
    QJsonArray modules;
    if (run) {
        for (const TModuleReport& module : run->Modules())
            modules.append(ModuleObject(module));
    }
    report.insert(QStringLiteral("modules"), modules);
    if (const std::optional<TProgramExit> exit = run ? run->InstallerExit() : std::nullopt) {
        QJsonObject installer;
        installer.insert(QStringLiteral("path"), exit->Program);
        installer.insert(QStringLiteral("started"), exit->Started);
        if (!exit->Started)
            installer.insert(QStringLiteral("reason"), exit->Error);
        else
            installer.insert(exit->Signalled ? QStringLiteral("signal") : QStringLiteral("exitStatus"),
                             exit->Code);
        report.insert(QStringLiteral("installer"), installer);
    }
    return QJsonDocument(report).toJson(QJsonDocument::Indented);
}
