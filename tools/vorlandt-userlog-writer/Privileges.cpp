// See Privileges.h.
#include "Privileges.h"

#include "WriterFiles.h"
#include "core/catalog/UserLogFile.h"

#include <csignal>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace userlogwriter {

namespace {

// The limits a write of the log needs: the log twice over (new file and the old one read), the
// index, a batch of queued entries; descriptors for folders, lock and files; time for it all.
constexpr rlim_t NeededFileSize = 4 * userlog::MaxLogBytes;
constexpr rlim_t NeededFiles = 32;
constexpr rlim_t NeededCpuSeconds = 60;

struct TLimit {
    int resource;
    rlim_t needed;
    const char* name;
};

constexpr TLimit Limits[] = {
    {RLIMIT_FSIZE, NeededFileSize, "Dateigröße (ulimit -f)"},
    {RLIMIT_NOFILE, NeededFiles, "offene Dateien (ulimit -n)"},
    {RLIMIT_CPU, NeededCpuSeconds, "Rechenzeit (ulimit -t)"},
    {RLIMIT_AS, RLIM_INFINITY, nullptr},
    {RLIMIT_DATA, RLIM_INFINITY, nullptr},
};

// Root lifts every limit that matters; where it may not (a container without the capability to
// raise limits) and without root, each soft limit rises to its hard one, and a hard limit too
// small to write the log whole refuses the run before anything is written.
void ResetLimits(bool privileged)
{
    for (const TLimit& limit : Limits) {
        const rlim_t value = limit.resource == RLIMIT_NOFILE ? 1024 : RLIM_INFINITY;
        const struct rlimit wanted {value, value};
        if (privileged && ::setrlimit(limit.resource, &wanted) == 0)
            continue;
        struct rlimit current {};
        if (::getrlimit(limit.resource, &current) != 0)
            continue;
        current.rlim_cur = current.rlim_max;
        ::setrlimit(limit.resource, &current);
        if (limit.name != nullptr && current.rlim_max != RLIM_INFINITY && current.rlim_max < limit.needed) {
            Refuse(std::string("Die Grenze für ") + limit.name + " ist zu klein (" +
                   std::to_string(current.rlim_max) + "), um das Protokoll ganz zu schreiben; " +
                   "es bleibt, wie es ist.");
        }
    }
}

}  // namespace

void TakeOverProcess()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", O_RDWR) != fd)
            ::_exit(1);  // nothing can be said: there is nowhere to say it
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP)
            std::signal(signal, SIG_DFL);
    }
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE, SIGXFSZ})
        std::signal(signal, SIG_IGN);
    ::umask(022);
}

void BecomeLogOwner(uid_t uid, gid_t gid)
{
    ResetLimits(true);
    ::setpriority(PRIO_PROCESS, 0, 0);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
        Refuse("Die Rechte lassen sich nicht abgeben: " + SystemReason(errno));
    uid_t real = 0, effective = 0, saved = 0;
    if (::getresuid(&real, &effective, &saved) != 0 || real != uid || effective != uid || saved != uid ||
        (uid != 0 && ::setuid(0) == 0))
        Refuse("Die Rechte lassen sich nicht abgeben.");
    // Nobody but root may look into or attach to the process.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void CheckLimits()
{
    ResetLimits(false);
}

}  // namespace userlogwriter
