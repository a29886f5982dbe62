// The link quality of each station over the run: the four quality bytes of every signal
// packet, kept per station in a bounded ring for the plot window. Window thread only, as
// signal packets are taken there.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "manager/core/quality_values.h"

namespace meradon {

struct QualitySample {
    int64_t timeMs;  // the core's clock
    QualityValues values;
};

class QualityHistory {
public:
    // A station's ring keeps the last day, and no more than a day of one report a second:
    // a station that reports faster loses its oldest samples first. At 16 bytes a sample
    // that is at most about 1.4 MB for each station that reports at all.
    static constexpr int64_t kSpanMs = 24LL * 3600 * 1000;
    static constexpr std::size_t kCapacity = 24 * 3600;

    // The most samples a station's ring keeps, kCapacity unless set lower: a program without
    // a plot (meradond) keeps only the newest, as the history store holds the rest.
    void LimitTo(std::size_t samples) { capacity_ = std::clamp<std::size_t>(samples, 1, kCapacity); }
    // Stations 1-254; any other number is ignored.
    void Add(uint8_t station, int64_t nowMs, const QualityValues &values);
    // The station's samples taken after `sinceMs`, oldest first.
    std::vector<QualitySample> Since(uint8_t station, int64_t sinceMs) const;
    std::size_t Count(uint8_t station) const { return rings_[station].size(); }
    // The station's newest sample, if it has one.
    std::optional<QualitySample> Last(uint8_t station) const {
        if (rings_[station].empty()) return std::nullopt;
        return rings_[station].back();
    }

private:
    std::array<std::deque<QualitySample>, 256> rings_;
    std::size_t capacity_ = kCapacity;
};

}  // namespace meradon
