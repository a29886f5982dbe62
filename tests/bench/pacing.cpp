#include "tests/bench/pacing.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace bench {

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void SendPaced(long count, int rate, const std::function<void(long)> &send, const std::function<void()> &eachSecond) {
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(1'000'000'000LL * i / rate));
        send(i);
        if ((i + 1) % rate == 0) eachSecond();
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double share) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

}  // namespace bench
