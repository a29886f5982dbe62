// The report lines that end a sending pass (indented lines of the operation record).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "manager/core/app_state.h"

namespace meradon {

// A sending's duration in whole seconds (cut, not rounded), as the report, the results
// view and the saved results all give it.
uint64_t WholeSeconds(int64_t ms);
// "hh 时 mm 分 ss 秒".
std::string DurationText(uint64_t seconds);

// `peer` 0 = broadcast, judged from the station states; otherwise judged from the host
// flags. `seconds` is the duration of the pass.
std::vector<std::string> ReportLines(uint8_t peer, uint8_t hostFlags,
                                     const std::array<uint8_t, kStations> &stationState,
                                     uint64_t seconds);

}  // namespace meradon
