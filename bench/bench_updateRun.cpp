// Wall time of a manual update run over 100 registrations against the loopback HTTPS server
// (descriptors of about 10 KB, nothing pending), against one curl command line that makes the
// same HEAD and GET requests: the limit the transfers themselves set. Needs python3, openssl, curl.
// The Network benchmarks do the same against nginx, directly and through a forwarder that delays
// every chunk by 25 ms each way, over 30 and 100 registrations, with and without fetching ahead;
// they report process CPU time beside wall time (needs nginx). The temporary folder lies on the
// disk of the fixture ($TMPDIR under /tmp); "tmpfs:1" puts it into /dev/shm instead, as a desktop
// session's $XDG_RUNTIME_DIR would be. BM_NetworkRunSigned repeats the 30 registrations with a
// signature key configured and every descriptor signed: one more HEAD and GET per module.
//   build/bench/bench_updateRun [--benchmark_filter=Network]
#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/UpdateCheck.h"
#include "support/TestSigningKey.h"

#include "BenchHttpsServer.h"
#include "BenchNginx.h"

#include "BenchMain.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/time.h>

namespace {

constexpr int ModuleCount = 100;

// Answers the closing "nothing found" box and shows nothing.
class TSilentFrontEnd : public TFrontEnd {
public:
    int MessageDialog(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return mrOk; }
    bool OpenDocument(const QString&) override { return true; }
};

// A descriptor of about 10 KB whose updates are all installed already.
QByteArray Descriptor(int id)
{
    QByteArray xml =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modul verzeichnis_reg_rootkey=\"{HKLM}\" "
            "verzeichnis_reg_key=\"Software\\Bench\\%1\" verzeichnis_reg_name=\"Pfad\">\n")
            .arg(id)
            .toUtf8();
    for (int minor = 0; xml.size() < 10 * 1024; ++minor) {
        xml += QStringLiteral("<version nr=\"%1\">").arg(minor).toUtf8();
        for (int sub = 0; sub < 3; ++sub)
            xml += QStringLiteral(
                       "<update nr=\"%1\" filename=\"m%2_%3_%1.exe\" still=\"ja\" typ=\"execute\">"
                       "<beschreibung><![CDATA[{\\rtf1\\ansi{\\fonttbl{\\f0 Tahoma;}}\\f0\\fs16 "
                       "\\b Neu in %3.%1:\\b0\\par Schnellere Suche, neue Berichte und viele kleine "
                       "Verbesserungen.\\par}]]></beschreibung></update>\n")
                       .arg(sub)
                       .arg(id)
                       .arg(minor)
                       .toUtf8();
        xml += "</version>\n";
    }
    return xml + "</modul>\n";
}

struct TRunFixture : TBenchHttpsServer {
    TSilentFrontEnd FrontEnd;

    TRunFixture()
    {
        if (!Error.isEmpty())
            return;
        const QString base = Stores.Path() + u'/';
        qputenv("TMPDIR", (base + QStringLiteral("tmp")).toUtf8());
        QDir().mkpath(base + QStringLiteral("tmp"));
        QDir().mkpath(base + QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0"));
        for (const char* variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            qunsetenv(variable);

        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         Url(QStringLiteral("/")));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv, false);
        for (int id = 1; id <= ModuleCount; ++id) {
            const QString key =
                SettingsKeys::OnlineUpdateModule + QStringLiteral("Modul%1").arg(id, 3, 10, QLatin1Char('0'));
            WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, id);
            WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateHauptversion, 1);
            WriteStringValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateModulbezeichnung,
                             QStringLiteral("Modul %1").arg(id));
            const QString folder = base + QStringLiteral("modules/%1/").arg(id);
            WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Bench\\%1").arg(id),
                             QStringLiteral("Pfad"), folder);
            if (!WriteFile(folder + QStringLiteral("siteinfo_%1.ini").arg(id),
                           "hauptversion=1\r\nnebenversion=999\r\nunterversion=0\r\n") ||
                !WriteFile(Root() + QStringLiteral("/Modul_%1/update_%1_1.xml").arg(id), Descriptor(id))) {
                Error = QStringLiteral("cannot write the fixture");
                return;
            }
        }
        SetFrontEnd(&FrontEnd);
    }

    ~TRunFixture() { SetFrontEnd(nullptr); }

    // The requests the run makes, as one curl command line.
    QStringList CurlArguments(int count = ModuleCount, const QString& base = QString()) const
    {
        QStringList arguments;
        for (int id = 1; id <= count; ++id) {
            const QString path = QStringLiteral("/Modul_%1/update_%1_1.xml").arg(id);
            const QString url = base.isEmpty() ? Url(path) : base + path;
            for (bool head : {true, false}) {
                if (!arguments.isEmpty())
                    arguments << QStringLiteral("--next");
                arguments << QStringLiteral("-s") << QStringLiteral("--cacert") << CertFile()
                          << QStringLiteral("-o") << QStringLiteral("/dev/null");
                if (head)
                    arguments << QStringLiteral("-I");
                arguments << url;
            }
        }
        return arguments;
    }
};

std::unique_ptr<TRunFixture> gFixture;

// nginx on the fixture's folder, and the delaying forwarder in front of it; with `http2`, an
// nginx that offers HTTP/2.
struct TNetworkFixture {
    TBenchNginx Nginx;
    QProcess Forwarder;
    int ForwarderPort = 0;
    QString Error;

    explicit TNetworkFixture(TRunFixture& run, bool http2 = false)
    {
        Nginx.Start(run.Stores.FilePath(http2 ? QStringLiteral("nginx2") : QStringLiteral("nginx")),
                    run.CertFile(), run.Stores.FilePath(QStringLiteral("server.key")), run.Root(), http2);
        if (!Nginx.Error.isEmpty()) {
            Error = Nginx.Error;
            return;
        }
        const QString script = QStringLiteral(VORLANDT_SOURCE_DIR "/bench/delay_forwarder.py");
        Forwarder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Forwarder.start(QStandardPaths::findExecutable(QStringLiteral("python3")),
                        {script, "--target", QString::number(Nginx.Port), "--delay", "0.025"});
        while (Forwarder.waitForReadyRead(10000) && !Forwarder.canReadLine()) {
        }
        ForwarderPort = Forwarder.readLine().trimmed().toInt();
        if (ForwarderPort == 0)
            Error = QStringLiteral("the forwarder did not start");
    }

    ~TNetworkFixture()
    {
        Forwarder.closeWriteChannel();
        if (!Forwarder.waitForFinished(3000))
            Forwarder.kill();
    }

    QString Base(bool delayed) const
    {
        return QStringLiteral("https://127.0.0.1:%1").arg(delayed ? ForwarderPort : Nginx.Port);
    }
};

std::unique_ptr<TNetworkFixture> gNetwork;
std::unique_ptr<TNetworkFixture> gNetwork2;

TNetworkFixture* Network(TRunFixture& run, bool http2 = false)
{
    std::unique_ptr<TNetworkFixture>& network = http2 ? gNetwork2 : gNetwork;
    if (!network)
        network = std::make_unique<TNetworkFixture>(run, http2);
    return network.get();
}

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The first `count` registrations take part, the others are switched off.
void EnableModules(int count)
{
    for (int id = 1; id <= ModuleCount; ++id)
        WriteIntegerValue(
            HKEY_LOCAL_MACHINE,
            SettingsKeys::OnlineUpdateModule + QStringLiteral("Modul%1").arg(id, 3, 10, QLatin1Char('0')),
            SettingsKeys::ModuleDisabledRun, id <= count ? 0 : 1);
}

TRunFixture* Fixture()
{
    if (!gFixture)
        gFixture = std::make_unique<TRunFixture>();
    return gFixture.get();
}

void BM_ManualRun100(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    if (!fixture->Error.isEmpty()) {
        state.SkipWithError(qPrintable(fixture->Error));
        return;
    }
    for (auto _ : state) {
        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
    }
}
BENCHMARK(BM_ManualRun100)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// One curl process to its end; false when it failed or took more than two minutes.
bool RunCurl(const QString& curl, const QStringList& arguments)
{
    QProcess process;
    process.start(curl, arguments);
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

void BM_CurlSameRequests(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (!fixture->Error.isEmpty() || curl.isEmpty()) {
        state.SkipWithError(curl.isEmpty() ? "curl missing" : qPrintable(fixture->Error));
        return;
    }
    const QStringList arguments = fixture->CurlArguments();
    for (auto _ : state) {
        if (!RunCurl(curl, arguments)) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}
BENCHMARK(BM_CurlSameRequests)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// Arguments: registrations, delayed (0/1), fetching ahead (0/1), temporary folder on tmpfs (0/1).
// One benchmark's search: `count` registrations asked for at `base`. On leaving, every
// registration and the fixture's own server again, and no signature keys, for the benchmarks after.
class TSearchThrough {
public:
    TSearchThrough(TRunFixture& fixture, int count, const QString& base) : FFixture(fixture)
    {
        EnableModules(count);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL, base + u'/');
    }
    ~TSearchThrough()
    {
        if (ValueExists(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys))
            DeleteValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys);
        EnableModules(ModuleCount);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         FFixture.Url(QStringLiteral("/")));
    }
    TSearchThrough(const TSearchThrough&) = delete;
    TSearchThrough& operator=(const TSearchThrough&) = delete;

private:
    TRunFixture& FFixture;
};

// nginx and the forwarder for a benchmark, or nothing after marking it skipped.
TNetworkFixture* NetworkOrSkip(TRunFixture& fixture, benchmark::State& state, bool http2 = false)
{
    TNetworkFixture* network = fixture.Error.isEmpty() ? Network(fixture, http2) : nullptr;
    if (!network || !network->Error.isEmpty()) {
        state.SkipWithError(network ? qPrintable(network->Error) : qPrintable(fixture.Error));
        return nullptr;
    }
    return network;
}

void BM_NetworkRun(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    TNetworkFixture* network = NetworkOrSkip(*fixture, state);
    if (!network)
        return;
    const TSearchThrough search(*fixture, static_cast<int>(state.range(0)), network->Base(state.range(1) != 0));
    const QByteArray diskTemp = qgetenv("TMPDIR");
    std::optional<QTemporaryDir> memoryTemp;
    if (state.range(3) != 0) {
        memoryTemp.emplace(QStringLiteral("/dev/shm/bench_updateRun-XXXXXX"));
        if (!memoryTemp->isValid()) {
            state.SkipWithError("no /dev/shm");
            return;
        }
        qputenv("TMPDIR", QFile::encodeName(memoryTemp->path()));
    }
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds(RUSAGE_SELF);
        TUpdates updates;
        TUpdateCheck check(&updates);
        check.SetFetchAhead(state.range(2) != 0);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
        cpu += CpuSeconds(RUSAGE_SELF) - before;
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000, benchmark::Counter::kAvgIterations);
    qputenv("TMPDIR", diskTemp);
}
// Loopback runs are short: more of them steady the figure.
BENCHMARK(BM_NetworkRun)
    ->ArgsProduct({{30, 100}, {0}, {0, 1}, {0, 1}})
    ->ArgNames({"modules", "delayed", "ahead", "tmpfs"})
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetworkRun)
    ->ArgsProduct({{30, 100}, {1}, {0, 1}, {0}})
    ->ArgNames({"modules", "delayed", "ahead", "tmpfs"})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Signs the first `count` descriptors with `key` and configures it; false when that failed.
bool SignFixture(TRunFixture& fixture, const TTestKey& key, int count)
{
    for (int id = 1; id <= count; ++id) {
        const QString descriptor = fixture.Root() + QStringLiteral("/Modul_%1/update_%1_1.xml").arg(id);
        QFile file(descriptor);
        if (!file.open(QIODevice::ReadOnly) ||
            !TRunFixture::WriteFile(TSignatureCheck::SignatureFileName(descriptor),
                                    key.SignatureFile(file.readAll(), QFileInfo(descriptor).fileName())))
            return false;
    }
    WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                     key.PublicBase64());
    return true;
}

// One untimed run with the diagnostic log on: true when it logged and no signature failed.
template <typename TRunOnce>
bool SignaturesHeld(const TRunOnce& run)
{
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
    WriteLog(TLogAction::StartBuffer, QString());
    run();
    const QStringList log = LogBuffer().value_or(QStringList());
    WriteLog(TLogAction::DiscardBuffer, QString());
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, false);
    return !log.isEmpty() && log.filter(QStringLiteral("Signaturprüfung")).isEmpty();
}

// Arguments: signed (0/1); 30 registrations through the delaying forwarder to an nginx that
// speaks HTTP/2, fetching ahead.
void BM_NetworkRunHttp2(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    TNetworkFixture* network = NetworkOrSkip(*fixture, state, true);
    if (!network)
        return;
    constexpr int Count = 30;
    const TSearchThrough search(*fixture, Count, network->Base(true));
    if (state.range(0) != 0 && !SignFixture(*fixture, TTestKey('b'), Count)) {
        state.SkipWithError("cannot sign the fixture");
        return;
    }
    const auto run = [] {
        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
    };
    // One untimed run with the diagnostic log: every signature held; the server's protocol is
    // known from then on, as in a program that searched before.
    const bool allGood = SignaturesHeld(run);
    double cpu = 0;
    if (allGood)
        for (auto _ : state) {
            const double before = CpuSeconds(RUSAGE_SELF);
            run();
            cpu += CpuSeconds(RUSAGE_SELF) - before;
        }
    state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000, benchmark::Counter::kAvgIterations);
    if (!allGood)
        state.SkipWithError("a signature failed, or no log");
}
BENCHMARK(BM_NetworkRunHttp2)
    ->ArgsProduct({{0, 1}})
    ->ArgNames({"signed"})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same 60 requests (HEAD and GET of 30 descriptors) as one curl process multiplexing them
// over HTTP/2 through the delaying forwarder.
void BM_NetworkCurlHttp2(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    TNetworkFixture* network = fixture->Error.isEmpty() ? Network(*fixture, true) : nullptr;
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (!network || !network->Error.isEmpty() || curl.isEmpty()) {
        state.SkipWithError("no curl or no server");
        return;
    }
    const QStringList arguments = QStringList({"--parallel", "--parallel-max", "100", "--http2"}) +
                                  fixture->CurlArguments(30, network->Base(true));
    for (auto _ : state) {
        if (!RunCurl(curl, arguments)) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}
BENCHMARK(BM_NetworkCurlHttp2)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// Arguments: delayed (0/1), ahead (0/1); 30 registrations.
void BM_NetworkRunSigned(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    TNetworkFixture* network = NetworkOrSkip(*fixture, state);
    if (!network)
        return;
    constexpr int Count = 30;
    const TSearchThrough search(*fixture, Count, network->Base(state.range(0) != 0));
    if (!SignFixture(*fixture, TTestKey('b'), Count)) {
        state.SkipWithError("cannot sign the fixture");
        return;
    }
    const auto run = [&] {
        TUpdates updates;
        TUpdateCheck check(&updates);
        check.SetFetchAhead(state.range(1) != 0);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
    };
    // One untimed run with the diagnostic log: every signature held.
    const bool allGood = SignaturesHeld(run);
    if (allGood)
        for (auto _ : state)
            run();
    if (!allGood)
        state.SkipWithError("a signature failed, or no log");
}
BENCHMARK(BM_NetworkRunSigned)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"delayed", "ahead"})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Arguments: registrations, delayed (0/1).
void BM_NetworkCurl(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    TNetworkFixture* network = fixture->Error.isEmpty() ? Network(*fixture) : nullptr;
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (!network || !network->Error.isEmpty() || curl.isEmpty()) {
        state.SkipWithError("no curl or no server");
        return;
    }
    const QStringList arguments =
        fixture->CurlArguments(static_cast<int>(state.range(0)), network->Base(state.range(1) != 0));
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds(RUSAGE_CHILDREN);
        if (!RunCurl(curl, arguments)) {
            state.SkipWithError("curl failed");
            return;
        }
        cpu += CpuSeconds(RUSAGE_CHILDREN) - before;
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_NetworkCurl)
    ->ArgsProduct({{30, 100}, {0}})
    ->ArgNames({"modules", "delayed"})
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetworkCurl)
    ->ArgsProduct({{30, 100}, {1}})
    ->ArgNames({"modules", "delayed"})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithApplication(argc, argv, [] {
        gNetwork.reset();
        gNetwork2.reset();
        gFixture.reset();
    });
}
