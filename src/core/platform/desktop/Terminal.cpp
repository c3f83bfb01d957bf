// Standard streams and stop signals with dup(2) and sigaction(2).
#include "core/platform/desktop/Terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace platform {

bool StdinIsTerminal()
{
    return ::isatty(STDIN_FILENO) != 0;
}

int DivertStdoutToStderr()
{
    std::fflush(stdout);
    const int reportOut = ::dup(STDOUT_FILENO);
    if (reportOut < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return -1;
    ::fcntl(reportOut, F_SETFD, FD_CLOEXEC);
    return reportOut;
}

bool WriteAllAndClose(int fd, const QByteArray& bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    ::close(fd);
    return true;
}

void OnStopSignals(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
}

void EndBySignal(int signal)
{
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace platform
