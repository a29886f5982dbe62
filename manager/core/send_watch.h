// Watching the link and the receiving station while a file is being sent (worker thread).
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// Ends the sending on link loss, a receiver that stays suspended, or no receiver at all;
// `linkState` is the state the last poll reported.
void WatchLinkDuringSend(Core &core, uint8_t linkState);
// Send on, Cancel off, the sending set-up controls on again.
void RestoreSendControls(Core &core);

}  // namespace meradon
