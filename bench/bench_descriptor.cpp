// Reading a descriptor of 10,000 updates of one module: pugixml loading the file alone against
// the fetch from a local source with the load (which also reads the updates from the document),
// and against the whole check (fetch, load and evaluation into the catalog). Argument: diagnostic
// log off (0) or on (1). BM_UpdateRunDeclined is a whole manual run over that module with 9,999
// updates pending, as a user who declines them has it: "Time" is wall time, process_cpu_s the
// process's CPU time, so that waiting for the disk shows as the difference. Its argument puts the
// temporary folder on the fixture's disk (0) or into /dev/shm (1), as a desktop session's
// $XDG_RUNTIME_DIR would.
//   build/bench/bench_descriptor --benchmark_filter=UpdateRun
#include "BenchDescriptor.h"

#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <optional>

#include <sys/resource.h>

namespace {

void SetLog(const benchmark::State& state)
{
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, state.range(0) != 0);
    WriteLog(TLogAction::StartBuffer, QString());
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(state.iterations() * QFile(Fixture().descriptor).size());
}

void BM_PugixmlLoadOnly(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(Fixture().descriptor);
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_file(path.constData(), pugi::parse_default | pugi::parse_comments))
            std::abort();
        benchmark::DoNotOptimize(document.document_element());
    }
    SetBytes(state);
}
BENCHMARK(BM_PugixmlLoadOnly)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_DownloadUpdateXML(benchmark::State& state)
{
    Fixture();
    SetLog(state);
    TUpdates updates;
    TUpdateCheck check(&updates);
    for (auto _ : state) {
        if (!check.DownloadUpdateXML(12, 3))
            std::abort();
    }
    SetBytes(state);
}
BENCHMARK(BM_DownloadUpdateXML)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadVersionTree(benchmark::State& state)
{
    Fixture();
    SetLog(state);
    TUpdates updates;
    TUpdateCheck check(&updates);
    for (auto _ : state) {
        state.PauseTiming();
        updates.Clear();
        WriteLog(TLogAction::StartBuffer, QString());
        state.ResumeTiming();
        if (!check.ReadVersionTree(QStringLiteral("Kasse"), 12, 3, true))
            std::abort();
    }
    if (updates.UpdateDictionary().size() != kMinorVersions * kUpdatesPerMinor)
        std::abort();
    SetBytes(state);
    state.counters["updates"] = static_cast<double>(updates.UpdateDictionary().size());
}
BENCHMARK(BM_ReadVersionTree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Shows nothing and declines the pending updates.
class TDecliningFrontEnd : public TFrontEnd {
public:
    int MessageDialog(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return mrOk; }
    bool OpenDocument(const QString&) override { return true; }
};

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

qsizetype TempEntryFiles()
{
    return QDir(qEnvironmentVariable("TMPDIR"))
        .entryList({QStringLiteral("VL_UpdateTXT_*.tmp")}, QDir::Files)
        .size();
}

void BM_UpdateRunDeclined(benchmark::State& state)
{
    TDescriptorFixture& fixture = Fixture();
    SetLog(state);
    const QByteArray diskTemp = qgetenv("TMPDIR");
    std::optional<QTemporaryDir> memoryTemp;
    if (state.range(0) == 1) {
        memoryTemp.emplace(QStringLiteral("/dev/shm/bench-XXXXXX"));
        if (!memoryTemp->isValid()) {
            state.SkipWithError("/dev/shm is not usable");
            return;
        }
        qputenv("TMPDIR", QFile::encodeName(memoryTemp->path()));
    }
    // Installed 3.0.0: every update of the descriptor but the very first is pending.
    const QString installed = fixture.stores.FilePath(QStringLiteral("kasse-3.0.0"));
    QDir().mkpath(installed);
    QFile siteinfo(installed + QStringLiteral("/siteinfo_12.ini"));
    if (!siteinfo.open(QIODevice::WriteOnly) ||
        siteinfo.write("hauptversion=3\r\nnebenversion=0\r\nunterversion=0\r\n") < 0)
        std::abort();
    siteinfo.close();
    const QString moduleKey = QStringLiteral("Software\\Vorlandt\\Module\\Kasse");
    const QString earlierFolder = ReadStringValue(HKEY_LOCAL_MACHINE, moduleKey, QStringLiteral("Pfad"), {});
    WriteStringValue(HKEY_LOCAL_MACHINE, moduleKey, QStringLiteral("Pfad"), installed);
    const QString registration = SettingsKeys::OnlineUpdateModule + QStringLiteral("Kasse");
    WriteIntegerValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateID, 12);
    WriteIntegerValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateHauptversion, 3);
    WriteStringValue(HKEY_LOCAL_MACHINE, registration, SettingsKeys::UpdateModulbezeichnung,
                     QStringLiteral("Kasse"));
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv, false);
    TDecliningFrontEnd frontEnd;
    SetFrontEnd(&frontEnd);

    TUpdates updates;
    TUpdateCheck check(&updates);
    TUpdateRun run(updates, check, false);
    double cpu = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        run.RunUpdateCheck(true);
        cpu += ProcessCpuSeconds() - before;
    }
    state.counters["pending"] = static_cast<double>(updates.UpdateDictionary().size());
    state.counters["process_cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    // One entry per pending update stays, each replaced by the next run's write.
    state.counters["entries_left"] = static_cast<double>(TempEntryFiles());

    SetFrontEnd(nullptr);
    WriteStringValue(HKEY_LOCAL_MACHINE, moduleKey, QStringLiteral("Pfad"), earlierFolder);
    qputenv("TMPDIR", diskTemp);
}
BENCHMARK(BM_UpdateRunDeclined)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
