// Watching the open link for its end (worker thread). A serial line that hangs up (an
// adapter pulled out) closes the library's shell by itself; a host node that stops
// answering in data transfer mode leaves the link open but useless. Either way the sending
// ends as failed, the operator is told once, and the window closes the link
// (CMD_LINK_LOST), which also ends a file being received.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// Silence of the host node in data transfer mode, while the worker keeps asking for its
// state, after which it counts as gone.
constexpr int64_t kSilentLinkMs = 5000;

// A frame from the host node arrived.
void NoteLinkHeard(Core &core);
// Once per worker pass. True when the link has ended: the worker then leaves it alone.
bool WatchLinkEnd(Core &core);

}  // namespace meradon
