// The command transaction: a request, polling for its reply, resends.
#pragma once

#include <cstdint>

namespace tevrolink {

constexpr int kReplyWaitMs = 150;
constexpr int kRequestResends = 5;
constexpr int kTransactCapacityExceeded = 255;

// Sends `request` (bytes 0, 2, 6 and 7 are rewritten) and, given a reply record, polls
// until a frame whose code is the request's plus 0x80 arrives, resending every 150 ms up
// to five times. Sequenced requests (streams and read requests) are sent only while the
// link is ready. Returns 1 (reply copied, or sent when there is no reply record), 0 (shell
// closed, refused, or no reply), or 255 (the reply is longer than `capacity`).
int TransactFrame(uint8_t *request, uint8_t *reply, int capacity);

// A zero-filled request of `code` with `size` payload bytes, sent through the transaction
// with a full reply record; true when the reply carries the matching code.
bool Command(uint8_t code, const uint8_t *payload, uint8_t size, uint8_t *reply,
             uint8_t node = 0);

}  // namespace tevrolink
