// The window thread's timer step: time-outs, then what the worker queued.
#pragma once

#include <cstddef>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kSearchQuietMs = 500;
constexpr int64_t kReceiveTimeoutMs = 30'000;
constexpr int64_t kAutoSaveMs = 3'600'000;
// Entries taken from each queue per tick: a timer tick may come late, and data packets
// arrive up to a thousand a second, so one per tick would let the queue grow.
constexpr std::size_t kPumpBatch = 64;

void PumpQueues(Core &core);
// The link picture from a status profile taken from the status queue.
void ShowHostState(Core &core, const StatusProfile &profile);

}  // namespace meradon
