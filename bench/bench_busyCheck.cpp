// One busy check (35 table rows against one reading of /proc) next to a bare listing of /proc
// that makes the same system calls, on a machine with about a thousand extra processes.
#include "core/platform/desktop/ProcessList.h"
#include "core/services/BusyCheck.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<pid_t> sleepers;

void StartSleepers(int count)
{
    char program[] = "/bin/sleep";
    char seconds[] = "600";
    char* const argv[] = {program, seconds, nullptr};
    for (int i = 0; i < count; ++i) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
            std::fprintf(stderr, "only %d sleeping processes could be started\n", i);
            return;
        }
        sleepers.push_back(pid);
    }
}

void StopSleepers()
{
    for (const pid_t pid : sleepers)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : sleepers)
        ::waitpid(pid, nullptr, 0);
    sleepers.clear();
}

// The floor: readdir plus the exe link and the first read of cmdline per process, nothing kept.
void BM_PlainProcListing(benchmark::State& state)
{
    char target[4097];
    char chunk[4096];
    char path[sizeof(dirent::d_name) + 16];
    for (auto _ : state) {
        DIR* dir = ::opendir("/proc");
        const int procFd = ::dirfd(dir);
        std::size_t names = 0;
        while (const dirent* item = ::readdir(dir)) {
            if (item->d_name[0] < '0' || item->d_name[0] > '9')
                continue;
            std::snprintf(path, sizeof path, "%s/exe", item->d_name);
            const ssize_t length = ::readlinkat(procFd, path, target, sizeof target);
            std::snprintf(path, sizeof path, "%s/cmdline", item->d_name);
            const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
            ssize_t got = 0;
            if (fd >= 0) {
                got = ::read(fd, chunk, sizeof chunk);
                ::close(fd);
            }
            names += (length > 0) + (got > 0);
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(names);
    }
}
BENCHMARK(BM_PlainProcListing)->Unit(benchmark::kMillisecond);

void BM_ProcessListRead(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::ProcessList::Read());
}
BENCHMARK(BM_ProcessListRead)->Unit(benchmark::kMillisecond);

void SetLogSwitch(bool on)
{
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, on);
}

void BM_VorlandtProzesseAktivLogOff(benchmark::State& state)
{
    SetLogSwitch(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(VorlandtProzesseAktiv());
}
BENCHMARK(BM_VorlandtProzesseAktivLogOff)->Unit(benchmark::kMillisecond);

void BM_VorlandtProzesseAktivLogOn(benchmark::State& state)
{
    SetLogSwitch(true);
    for (auto _ : state) {
        // A fresh buffer per check, as every search the user starts begins with one.
        WriteLog(TLogAction::StartBuffer, QString());
        benchmark::DoNotOptimize(VorlandtProzesseAktiv());
    }
    WriteLog(TLogAction::DiscardBuffer, QString());
    SetLogSwitch(false);
}
BENCHMARK(BM_VorlandtProzesseAktivLogOn)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    TPrivateStores stores;
    const char* count = std::getenv("VORLANDT_BENCH_PROCESSES");
    StartSleepers(count ? std::atoi(count) : 1000);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopSleepers();
    return 0;
}
