// The time sources of the manager core. Every time-out and interval reads `NowMs` (a
// monotonic millisecond count); stamps and file names read `Local`. Tests substitute a
// clock they advance by hand, so no test waits for a time-out to pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace meradon {

struct LocalTime {
    int year = 2000;  // full year
    int month = 1;    // 1-12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Local time to Unix seconds and back, in the machine's time zone: the history store keeps
// Unix seconds so that any tool can read it.
int64_t EpochSeconds(const LocalTime &time);
LocalTime LocalFromEpoch(int64_t seconds);
// "YYYY-MM-DD hh:mm:ss", as the quality files and the command-line client write times.
std::string LocalTimeText(const LocalTime &time);
// "YYYY-MM-DD hh:mm:ss", or "YYYY-MM-DD" for the day's start; nothing for other text.
std::optional<LocalTime> ParseLocalTime(const std::string &text);

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
