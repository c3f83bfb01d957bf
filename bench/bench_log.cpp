// Diagnostic log lines per second with the switch on: each line costs one store read of the
// switch plus the append under the log's lock.
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <benchmark/benchmark.h>

namespace {

struct LogFixture {
    TPrivateStores stores;
    LogFixture() { WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true); }
};

void BM_WriteLogLine(benchmark::State& state)
{
    static LogFixture fixture;
    if (state.thread_index() == 0)
        WriteLog(TLogAction::StartBuffer, QString());
    const QString line = QStringLiteral("StartDownload - Proxy aktiv");
    // Keep the buffer from growing without bound over millions of iterations.
    // (state.iterations() stays 0 inside the loop, so count here.)
    quint32 count = 0;
    for (auto _ : state) {
        WriteLog(TLogAction::AppendLine, line);
        if (state.thread_index() == 0 && (++count & 0xFFFF) == 0)
            WriteLog(TLogAction::StartBuffer, QString());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteLogLine)->Threads(1)->Threads(2)->UseRealTime();

void BM_WriteLogLineSwitchOff(benchmark::State& state)
{
    static LogFixture fixture;
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, false);
    const QString line = QStringLiteral("StartDownload - Proxy aktiv");
    for (auto _ : state)
        WriteLog(TLogAction::AppendLine, line);
    state.SetItemsProcessed(state.iterations());
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
}
BENCHMARK(BM_WriteLogLineSwitchOff);

}  // namespace

BENCHMARK_MAIN();
