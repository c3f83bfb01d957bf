// Time from the start of VorlandtOnlineUpdater to its main window shown, and of an autostart run
// with nothing to do (automatic search switched off) to its end, against a minimal Qt window
// program built the same way; the window programs end once the window is up (offscreen platform,
// so the figure does not depend on a display server).
//   build/bench/bench_startup
#include "core/platform/text/DateFormat.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include "BenchMain.h"

#include <QDate>
#include <QProcess>
#include <QProcessEnvironment>

#include <benchmark/benchmark.h>

namespace {

// Whether the user agreed to usage tracking or declined it (asked today, so not asked again).
enum class TTracking { Agreed, Declined };

void StartUntilShown(benchmark::State& state, const QString& program, const QStringList& arguments = {},
                     TTracking tracking = TTracking::Agreed)
{
    // The child inherits the private stores with the rest of this process's environment.
    TPrivateStores stores;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VORLANDT_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), stores.Path());
    // A user who agreed to usage tracking: no question at start; with no tracking server on this
    // machine the connection is refused at once. One who declined is not asked again this month
    // and makes no connection at all.
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen, SettingsKeys::TrackingOk,
                   tracking == TTracking::Agreed);
    if (tracking == TTracking::Declined)
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen,
                         SettingsKeys::TrackingLastQuery, platform::DateToStr(QDate::currentDate()));
    WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::Disable, 1);
    for (auto _ : state) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            state.SkipWithError("the program did not end by itself");
            return;
        }
    }
}

void BM_UpdaterUntilShown(benchmark::State& state)
{
    StartUntilShown(state, QStringLiteral(VORLANDT_UPDATER));
}
BENCHMARK(BM_UpdaterUntilShown)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UpdaterAutostartNothingToDo(benchmark::State& state)
{
    StartUntilShown(state, QStringLiteral(VORLANDT_UPDATER), {QStringLiteral("-a")});
}
BENCHMARK(BM_UpdaterAutostartNothingToDo)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same run of a user who declined usage tracking: nothing at all goes over the network.
void BM_UpdaterAutostartNothingToDoUntracked(benchmark::State& state)
{
    StartUntilShown(state, QStringLiteral(VORLANDT_UPDATER), {QStringLiteral("-a")}, TTracking::Declined);
}
BENCHMARK(BM_UpdaterAutostartNothingToDoUntracked)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_MinimalWindowUntilShown(benchmark::State& state)
{
    StartUntilShown(state, QStringLiteral(VORLANDT_MINIMAL_WINDOW));
}
BENCHMARK(BM_MinimalWindowUntilShown)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithApplication(argc, argv);
}
