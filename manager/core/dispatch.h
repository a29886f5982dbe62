// Sorting of the packets the worker receives: data, status and signal packets go to the
// window thread through their queues; debug packets are handled at once.
#pragma once

#include "manager/core/core.h"

namespace meradon {

// The packet that the last poll reported, in the library's receive frame. The worker
// polls and dispatches in one hold of `dispatchGate`: the library keeps one receive frame,
// checked and copied by separate calls, and any command of the window takes frames into it.
void DispatchPacket(Core &core);

// Window thread: the window is to talk to the host node itself. Once this returns, the
// worker takes no frame from the link (a poll under way has handed its packet on), so a
// command's transaction cannot replace a frame between the worker's check and its copy.
void HandLinkToWindow(AppState &state);

}  // namespace meradon
