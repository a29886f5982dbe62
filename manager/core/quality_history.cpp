#include "manager/core/quality_history.h"

#include <algorithm>

namespace meradon {

void QualityHistory::Add(uint8_t station, int64_t nowMs, const QualityValues &values) {
    if (station == 0 || station > kLastQualityStation) return;
    std::deque<QualitySample> &ring = rings_[station];
    ring.push_back({nowMs, values});
    while (ring.size() > capacity_ || nowMs - ring.front().timeMs > kSpanMs) ring.pop_front();
}

std::vector<QualitySample> QualityHistory::Since(uint8_t station, int64_t sinceMs) const {
    const std::deque<QualitySample> &ring = rings_[station];
    auto first = std::find_if(ring.begin(), ring.end(),
                              [&](const QualitySample &s) { return s.timeMs > sinceMs; });
    return {first, ring.end()};
}

}  // namespace meradon
