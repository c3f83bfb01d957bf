// The process-wide clock: the real time unless a stand-in is installed.
#include "core/platform/Clock.h"

#include <mutex>

namespace platform {

namespace {

// The download worker thread may ask for the time while a test installs a clock.
std::mutex& clockMutex()
{
    static std::mutex mutex;
    return mutex;
}

const Clock*& installedClock()
{
    static const Clock* clock = nullptr;
    return clock;
}

}  // namespace

QDateTime Clock::now()
{
    {
        std::lock_guard lock(clockMutex());
        if (installedClock())
            return installedClock()->currentDateTime();
    }
    return QDateTime::currentDateTime();
}

void Clock::install(const Clock* clock)
{
    std::lock_guard lock(clockMutex());
    installedClock() = clock;
}

}  // namespace platform
