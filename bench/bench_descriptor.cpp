// Reading a descriptor of 10,000 updates of one module: pugixml loading the file alone against
// the fetch from a local source with the load (which also reads the updates from the document),
// and against the whole check (fetch, load and evaluation into the catalog). Argument: diagnostic
// log off (0) or on (1).
#include "BenchDescriptor.h"

#include "core/catalog/Updates.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdlib>

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

}  // namespace

BENCHMARK_MAIN();
