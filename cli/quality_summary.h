// The per-station summary of link-quality samples: what `quality` prints for a day's file
// and `history quality` for a span of the store. For each station the number of samples,
// the first and last time, and the last, minimum, mean and maximum of each value.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "cli/output.h"
#include "manager/core/quality_values.h"

namespace cli {

class QualitySummary {
public:
    // Samples in time order; `time` as the files write it ("YYYY-MM-DD hh:mm:ss").
    void Add(uint8_t station, const std::string &time, const meradon::QualityValues &values);
    bool Empty() const { return stations_.empty(); }

    // One object per station, for the "stations" member of a document.
    Json StationsJson() const;
    void PrintTable() const;

private:
    struct Station {
        std::string from, to;
        meradon::QualityStats stats;
    };
    std::map<uint8_t, Station> stations_;
};

}  // namespace cli
