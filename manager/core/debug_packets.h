// Debug packets of the host node (worker thread): station events, the station list and
// link quality from kind 1, and a trace record for both kinds.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// The debug packet in the library's receive frame, of kind 1 or 2.
void OnDebugPacket(Core &core, uint8_t kind);
// The same for a payload already read; `payload` holds at least kDebugPayloadMin bytes.
void HandleDebugPayload(Core &core, uint8_t kind, uint8_t event, const uint8_t *payload);

}  // namespace meradon
