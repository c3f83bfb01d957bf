// What waiting for a download costs: process CPU time (user + system, from getrusage) against
// wall time during a slow ~3 s transfer from the loopback test server, with and without progress
// targets; and loopback throughput of a large file. Needs python3 and openssl.
//   build/bench/bench_download [--benchmark_filter=Slow]
#include "core/sources/Download.h"

#include "BenchHttpsServer.h"
#include "BenchMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include <sys/resource.h>
#include <sys/time.h>

namespace {

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Stands in for a progress bar and a status label, so the progress path costs what it would.
class TProgressSink : public QObject {
    Q_OBJECT

public:
    int Calls = 0;

public Q_SLOTS:
    void setText(const QString&) { ++Calls; }
    void setMaximum(int) { ++Calls; }
    void setValue(int) { ++Calls; }
};

// The server with one large file to fetch.
struct TServerFixture : TBenchHttpsServer {
    TServerFixture()
    {
        if (Error.isEmpty() &&
            !WriteFile(QDir(Root()).filePath(QStringLiteral("large.bin")), QByteArray(16 * 1024 * 1024, 'L')))
            Error = QStringLiteral("cannot write the served file");
    }
};

// Made on first use, ended in main() while the application object still exists.
std::unique_ptr<TServerFixture> gFixture;

TServerFixture* Fixture()
{
    if (!gFixture)
        gFixture = std::make_unique<TServerFixture>();
    return gFixture.get();
}

void SlowTransfer(benchmark::State& state, bool withProgress)
{
    TServerFixture* fixture = Fixture();
    if (!fixture->Error.isEmpty()) {
        state.SkipWithError(qPrintable(fixture->Error));
        return;
    }
    TProgressSink sink;
    const QString target = fixture->Stores.FilePath(QStringLiteral("slow.bin"));
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuBefore = ProcessCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        TDownload download;
        if (!download.StartDownload(fixture->Url(QStringLiteral("/slow?seconds=3&bytes=262144")), target,
                                    withProgress ? &sink : nullptr, withProgress ? &sink : nullptr)) {
            state.SkipWithError("the transfer failed");
            return;
        }
        cpu += ProcessCpuSeconds() - cpuBefore;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    }
    state.counters["cpu_percent_of_wall"] = 100.0 * cpu / wall;
    state.counters["cpu_ms"] = 1000.0 * cpu / static_cast<double>(state.iterations());
    if (withProgress)
        state.counters["progress_calls"] = sink.Calls / static_cast<double>(state.iterations());
}

void BM_SlowTransfer(benchmark::State& state)
{
    SlowTransfer(state, false);
}
BENCHMARK(BM_SlowTransfer)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SlowTransferWithProgress(benchmark::State& state)
{
    SlowTransfer(state, true);
}
BENCHMARK(BM_SlowTransferWithProgress)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_LargeFile(benchmark::State& state)
{
    TServerFixture* fixture = Fixture();
    if (!fixture->Error.isEmpty()) {
        state.SkipWithError(qPrintable(fixture->Error));
        return;
    }
    const QString target = fixture->Stores.FilePath(QStringLiteral("large-copy.bin"));
    for (auto _ : state) {
        TDownload download;
        if (!download.StartDownload(fixture->Url(QStringLiteral("/large.bin")), target, nullptr, nullptr)) {
            state.SkipWithError("the transfer failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * 16 * 1024 * 1024);
}
BENCHMARK(BM_LargeFile)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // The caller's side waits in an event loop, so the benchmark needs an application object.
    return RunBenchmarksWithApplication(argc, argv, [] { gFixture.reset(); });
}

#include "bench_download.moc"
