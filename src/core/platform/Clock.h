// The current time, in one place, so that tests can set "now".
#pragma once

#include <QDateTime>

namespace platform {

class Clock {
public:
    // Local date and time, or the fixed moment a test set.
    static QDateTime now();
    // Tests only: a valid moment freezes the clock there; an invalid one returns to real time.
    static void setNowForTesting(const QDateTime& moment);
};

}  // namespace platform
