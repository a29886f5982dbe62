#include "manager/core/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace meradon {

namespace {

LocalTime FromTm(const std::tm &tm) {
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// mktime() may reread the time zone and replace what localtime_r() reads; glibc locks
// inside, where the thread sanitizer does not see it. Our own lock keeps the two apart.
std::mutex &ZoneLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

int64_t EpochSeconds(const LocalTime &t) {
    const std::lock_guard<std::mutex> lock(ZoneLock());
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;  // as the zone has it on that day
    return static_cast<int64_t>(std::mktime(&tm));
}

LocalTime LocalFromEpoch(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm tm{};
    const std::lock_guard<std::mutex> lock(ZoneLock());
    localtime_r(&time, &tm);
    return FromTm(tm);
}

std::string LocalTimeText(const LocalTime &t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

std::optional<LocalTime> ParseLocalTime(const std::string &text) {
    LocalTime t;
    int dateEnd = 0, timeEnd = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &t.year, &t.month, &t.day, &dateEnd) != 3)
        return std::nullopt;
    std::size_t used = static_cast<std::size_t>(dateEnd);
    if (used < text.size()) {
        if (std::sscanf(text.c_str() + used, " %2d:%2d:%2d%n", &t.hour, &t.minute, &t.second,
                        &timeEnd) != 3)
            return std::nullopt;
        used += static_cast<std::size_t>(timeEnd);
    }
    if (used != text.size()) return std::nullopt;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60)
        return std::nullopt;
    return t;
}

int64_t SystemClock::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

LocalTime SystemClock::Local() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    const std::lock_guard<std::mutex> lock(ZoneLock());
    localtime_r(&now, &tm);
    return FromTm(tm);
}

}  // namespace meradon
