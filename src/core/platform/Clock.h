// The current time, in one place, so that a test can stand another clock in for the real one.
#pragma once

#include <QDateTime>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;

    // Local date and time from the installed clock, or the real time when none is installed.
    static QDateTime now();

protected:
    Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    virtual QDateTime currentDateTime() const = 0;

    // Makes `clock` (nullptr: the real time) the program's clock; it must outlive its turn. A
    // clock changes what it answers only while it is not installed: the install that follows
    // publishes the change to every thread.
    static void install(const Clock* clock);
};

}  // namespace platform
