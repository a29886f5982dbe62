// Time in the benchmarks: events sent at a steady rate, and the figures of a run of
// durations.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start);

// Calls `send(i)` for i from 0 to `count`, the i-th at start + i / `rate` seconds, and
// `eachSecond` after each whole second.
void SendPaced(long count, int rate, const std::function<void(long)> &send,
               const std::function<void()> &eachSecond = [] {});

double Median(std::vector<double> v);
// The value that `share` (0 to 1) of the values do not exceed; 0 when there are none.
double Percentile(std::vector<double> v, double share);

}  // namespace bench
