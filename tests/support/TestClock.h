// A clock the tests stop: a valid moment freezes "now" there for every thread, an invalid one
// gives the real time back.
#pragma once

#include "core/platform/Clock.h"

class TestClock final : public platform::Clock {
public:
    static void set(const QDateTime& moment)
    {
        static TestClock clock;
        install(nullptr);
        if (!moment.isValid())
            return;
        clock.FMoment = moment;
        install(&clock);
    }

private:
    TestClock() = default;
    QDateTime currentDateTime() const override { return FMoment; }

    QDateTime FMoment;
};
