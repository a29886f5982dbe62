// The window thread's step: time-outs, then what the worker queued.
#pragma once

#include <cstddef>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kSearchQuietMs = 500;
constexpr int64_t kReceiveTimeoutMs = 30'000;
constexpr int64_t kAutoSaveMs = 3'600'000;
// Entries taken from each queue per step. The window steps again at once while entries
// are left, but returns to its event loop in between, so that a flood of packets never
// keeps the operator's clicks and commands waiting for long.
constexpr std::size_t kPumpBatch = 64;

struct QueuesTaken {
    bool took = false;  // at least one entry
    bool left = false;  // a queue gave a full batch: entries may be left
};

// The time-outs that are due, then at most one batch of each queue. A file being received
// is flushed to disk at the end of the batch.
QueuesTaken PumpQueues(Core &core);
// Milliseconds until one of PumpQueues's time-outs is next due (0 when one is due now).
// Packets that arrive meanwhile can only put them off.
int64_t MsUntilDue(Core &core);
// The link picture from a status profile taken from the status queue.
void ShowHostState(Core &core, const StatusProfile &profile);

}  // namespace meradon
