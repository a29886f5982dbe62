// Watching the link and the receiving station while a file is being sent (worker thread).
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// A stream frame unacknowledged for this long is lost for good. Without retransmission
// nothing sends it again; with it, the library's keeper has given it up (six resends 250 ms
// apart) before this.
constexpr int64_t kAcknowledgementLimitMs = 2000;

// The record line of a sending that ended before the station was known to hold the file.
inline constexpr const char *kSendingFailedLine = "传输失败,文件没有全部送达";

// Ends the sending on link loss, a receiver that stays suspended, or no receiver at all;
// `linkState` is the state the last poll reported. Link loss (out of step, or a frame that
// is never acknowledged) is watched until the report is written, also after the file was
// closed: the host node may not have the file's end. A sending the window ended, or armed
// anew, since the step was read is left alone (no box, no controls), and watched next pass.
void WatchLinkDuringSend(Core &core, uint8_t linkState);
// Send on, Cancel off, the sending set-up controls on again.
void RestoreSendControls(Core &core);

}  // namespace meradon
