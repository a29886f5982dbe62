// The time sources of the manager core. Every time-out and interval reads `NowMs` (a
// monotonic millisecond count); stamps and file names read `Local`. Tests substitute a
// clock they advance by hand, so no test waits for a time-out to pass.
#pragma once

#include <cstdint>

namespace meradon {

struct LocalTime {
    int year = 2000;  // full year
    int month = 1;    // 1-12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds; only differences mean anything. Called from both threads.
    virtual int64_t NowMs() = 0;
    // Wall-clock local time. Called from both threads.
    virtual LocalTime Local() = 0;
};

class SystemClock final : public Clock {
public:
    int64_t NowMs() override;
    LocalTime Local() override;
};

}  // namespace meradon
