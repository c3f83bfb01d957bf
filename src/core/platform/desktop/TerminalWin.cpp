// Standard streams and stop signals on Windows: the C runtime's descriptors over the console's
// handles, and its signal emulation (Ctrl+C and Ctrl+Break arrive as SIGINT and SIGBREAK).
#include "core/platform/desktop/Terminal.h"

#include "core/platform/WinApi.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <io.h>

namespace platform {

bool StdinIsTerminal()
{
    // A console, not just any character device: _isatty() says yes to NUL as well.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int DivertStdoutToStderr()
{
    std::fflush(stdout);
    const int reportOut = ::_dup(1);
    // _dup2 also makes the process's standard output handle the error handle, which is what
    // started programs inherit.
    if (reportOut < 0 || ::_dup2(2, 1) < 0)
        return -1;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(::_get_osfhandle(reportOut)), HANDLE_FLAG_INHERIT, 0);
    return reportOut;
}

bool WriteAllAndClose(int fd, const QByteArray& bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const int n = ::_write(fd, bytes.constData() + written, unsigned(std::min<qsizetype>(bytes.size() - written, 1 << 30)));
        if (n <= 0)
            return false;
        written += n;
    }
    ::_close(fd);
    return true;
}

void OnStopSignals(void (*handler)(int))
{
    for (const int signal : {SIGINT, SIGTERM, SIGBREAK})
        std::signal(signal, handler);
}

void EndBySignal(int signal)
{
    std::fflush(nullptr);
    std::_Exit(128 + signal);
}

}  // namespace platform
