// The process-wide clock; a moment set by a test replaces the real time until it is cleared.
#include "core/platform/Clock.h"

#include <mutex>

namespace platform {

namespace {

// The download worker thread may ask for the time while a test or the UI thread sets it.
std::mutex& clockMutex()
{
    static std::mutex mutex;
    return mutex;
}

QDateTime& frozenMoment()
{
    static QDateTime moment;
    return moment;
}

}  // namespace

QDateTime Clock::now()
{
    {
        std::lock_guard lock(clockMutex());
        if (frozenMoment().isValid())
            return frozenMoment();
    }
    return QDateTime::currentDateTime();
}

void Clock::setNowForTesting(const QDateTime& moment)
{
    std::lock_guard lock(clockMutex());
    frozenMoment() = moment.isValid() ? moment : QDateTime();
}

}  // namespace platform
