// Stream writing to stations and the host node, and the flow control around it.
#pragma once

#include <cstdint>

namespace tevrolink {

constexpr int kStatusQueryPeriodMs = 100;
// A wait gives up when no frame at all has arrived for this long.
constexpr int kSilenceLimitMs = 5000;
// WaitForShellWritable gives up when the host node answers but grants no room for this
// long (a station that never becomes active, a buffer that never drains).
constexpr int kNoRoomLimitMs = 10000;
// A stream frame not acknowledged for this long is lost: as long as the keeper resends it
// before it gives up. Without hand-shake nothing resends it, and no acknowledgement comes.
constexpr int kAcknowledgementLimitMs = 1750;
// WaitForShellEmpty gives up when the host node answers but the bytes waiting in its
// transmit buffer have not gone down for this long (a station out of reach, a radio that
// never sends).
constexpr int kNoDrainLimitMs = 10000;
// Returned by WaitForShellWritable when the link is lost (out of step, closed, silent, or
// a frame never acknowledged) or no room came within kNoRoomLimitMs;
// it has the suspended bit set so that callers that stop on it stop.
constexpr uint8_t kWriteWaitFailed = 0xFF;

int WriteStreamToShell(const uint8_t *source, uint32_t length, int station, int kind, int flags);
int SendPacketToHostNode(const uint8_t *source, uint32_t length);
int RecvPacketFromHostNode(uint8_t *dest, int capacity, uint32_t count);
int QueryHostRTxStatus(uint8_t *profile);
int IsShellWritable(uint8_t *linkState, uint16_t *size);
int WaitForShellWritable(uint16_t *size);
int WaitForShellEmpty(uint16_t *credit);

// Polls until the last sequenced frame is acknowledged: true then; false when the link
// falls out of step, the shell closes, no frame arrives for 5 s, or the frame goes
// unacknowledged for kAcknowledgementLimitMs.
bool WaitForAcknowledgement();

}  // namespace tevrolink
