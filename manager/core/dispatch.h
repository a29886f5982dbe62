// Sorting of the packets the worker receives: data, status and signal packets go to the
// window thread through their queues; debug packets are handled at once.
#pragma once

#include "manager/core/core.h"

namespace meradon {

// The packet that the last poll reported, in the library's receive frame.
void DispatchPacket(Core &core);

}  // namespace meradon
