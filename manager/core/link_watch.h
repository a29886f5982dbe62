// Watching the open link for its end (worker thread). A serial line that hangs up (an
// adapter pulled out) closes the library's shell by itself: the sending ends as failed,
// the operator is told once, and the window closes the link (CMD_LINK_LOST), which also
// ends a file being received. A host node that stops answering in data transfer mode (a
// UDP node that reboots, a radio modem that hangs for a while) may come back: the sending
// ends as failed and the operator is told in the record, but the link stays open and the
// worker keeps asking, so that what stations send afterwards is received unattended.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// Silence of the host node in data transfer mode, while the worker keeps asking for its
// state, after which it counts as not answering.
constexpr int64_t kSilentLinkMs = 5000;

// Picture shown while the host node does not answer.
constexpr uint8_t kSilentHostPicture = 0x80;

// A frame from the host node arrived.
void NoteLinkHeard(Core &core);
// Once per worker pass. True when the link has ended: the worker then leaves it alone.
bool WatchLinkEnd(Core &core);

}  // namespace meradon
