// Settings-store throughput: reads of an existing value from one and from two threads (each
// read opens nothing new but still sees the file's current content), and one write for scale.
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <benchmark/benchmark.h>

namespace {

struct StoreFixture {
    TPrivateStores stores;
    StoreFixture()
    {
        WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyPort, 8080);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent,
                         SettingsKeys::UserAgentDefault);
    }
};

StoreFixture& fixture()
{
    static StoreFixture instance;
    return instance;
}

void BM_ReadIntegerValue(benchmark::State& state)
{
    fixture();
    for (auto _ : state) {
        const qint32 port =
            ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyPort, 80);
        benchmark::DoNotOptimize(port);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadIntegerValue)->Threads(1)->Threads(2)->UseRealTime();

void BM_ReadStringValue(benchmark::State& state)
{
    fixture();
    for (auto _ : state) {
        const QString agent =
            ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent, QString());
        benchmark::DoNotOptimize(agent.constData());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadStringValue)->Threads(1)->Threads(2)->UseRealTime();

// Each write is one durable transaction (synced journal and file), so the disk sets the pace.
void BM_WriteIntegerValue(benchmark::State& state)
{
    fixture();
    qint32 value = 0;
    for (auto _ : state)
        WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID, ++value);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteIntegerValue)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
