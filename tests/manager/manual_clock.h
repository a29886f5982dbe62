// A clock that moves only when a test advances it.
#pragma once

#include <atomic>

#include "manager/core/clock.h"

namespace meradon_test {

class ManualClock final : public meradon::Clock {
public:
    explicit ManualClock(int64_t startMs = 1'000'000) : now_(startMs), start_(startMs) {}
    int64_t NowMs() override { return now_.load(); }
    // 2024-05-06 13:45:10 plus the time advanced so far.
    meradon::LocalTime Local() override {
        int64_t s = 13 * 3600 + 45 * 60 + 10 + (now_.load() - start_) / 1000;
        return {2024, 5, 6 + static_cast<int>(s / 86400), static_cast<int>(s / 3600 % 24),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60)};
    }
    void Advance(int64_t ms) { now_.fetch_add(ms); }

private:
    std::atomic<int64_t> now_;
    const int64_t start_;
};

}  // namespace meradon_test
