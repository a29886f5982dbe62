// How often the worker polls the link: every millisecond while stations are heard from or
// a sending runs, and every kIdleTickMs once the stations have been quiet for a second. An
// open, quiet link then costs next to no CPU (the worker's status poll every 250 ms still
// runs), and the first packet after a quiet spell waits at most one idle tick before the
// poll speeds up again. The window does not poll: the worker wakes it.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kBusyTickMs = 1;
constexpr int64_t kIdleTickMs = 50;
constexpr int64_t kQuietAfterMs = 1000;

inline int64_t TickMs(Core &core) {
    const AppState &state = core.state;
    const bool busy = state.sendState.load() != IDLE || core.Since(state.lastRxTime) < kQuietAfterMs;
    return busy ? kBusyTickMs : kIdleTickMs;
}

}  // namespace meradon
