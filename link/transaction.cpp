#include "link/transaction.h"

#include <cstring>

#include "link/clock.h"
#include "link/frame.h"
#include "link/receive.h"
#include "link/shell.h"

namespace tevrolink {
namespace {

bool IsSequenced(uint8_t code) { return code == kCodeStream || code == kCodeData; }

// The value groups of the status profile that describe the host's buffer (bytes 4-17)
// belong to the previous frame once a new sequenced frame is on its way.
constexpr std::size_t kBufferGroupsBegin = 4;
constexpr std::size_t kBufferGroupsEnd = 18;

}  // namespace

int TransactFrame(uint8_t *request, uint8_t *reply, int capacity) {
    Shell &shell = TheShell();
    if (!shell.IsOpen()) return 0;
    request[kSeq] = 0;
    if (IsSequenced(request[kCode])) {
        if (shell.linkState != kLinkReady) return 0;
        std::memset(shell.statusBlock + kBufferGroupsBegin, 0, kBufferGroupsEnd - kBufferGroupsBegin);
        request[kSeq] = ++shell.txSeq;
        shell.port.resendCount = 0;
        shell.linkState = kLinkAwaitingAck;
        shell.lastActivity = MonotonicMs();
        std::memcpy(shell.pendingFrame, request, kFrameSize);
    }
    WriteFrame(shell.port, request);
    // A frame that went to a line found gone was not sent.
    if (CloseHungUpShell()) return 0;
    if (!reply) return 1;

    // Computed without wrap-around: a request code of 0x80 or more never matches.
    const int replyCode = request[kCode] + 0x80;
    int64_t sentAt = MonotonicMs();
    for (int resends = 0; resends < kRequestResends;) {
        if (IsShellReadable(nullptr, nullptr)) {
            const uint8_t *frame = shell.port.rxFrame;
            // A status report names the stream frame it acknowledges: one for an earlier
            // frame (doubled on the way, or late after a resend) does not answer this one.
            const bool forThis = frame[kCode] != kCodeStatusAck || frame[kSeq] == request[kSeq];
            if (frame[kCode] == replyCode && forThis) {
                if (capacity < static_cast<int>(kFrameHeader + frame[kLength]))
                    return kTransactCapacityExceeded;
                std::memcpy(reply, frame, kFrameSize);
                return 1;
            }
            continue;  // not the reply: taken in, then dropped; more may be queued
        }
        if (!shell.IsOpen()) return 0;
        const int64_t elapsed = MonotonicMs() - sentAt;
        if (elapsed >= kReplyWaitMs) {
            WriteFrame(shell.port, request);
            sentAt = MonotonicMs();
            ++resends;
            continue;
        }
        WaitForLink(static_cast<int>(kReplyWaitMs - elapsed));
    }
    return 0;
}

bool Command(uint8_t code, const uint8_t *payload, uint8_t size, uint8_t *reply, uint8_t node) {
    uint8_t request[kFrameSize] = {};
    std::memset(reply, 0, kFrameSize);
    request[kCode] = code;
    request[kNode] = node;
    request[kLength] = size;
    if (size) std::memcpy(request + kPayload, payload, size);
    TransactFrame(request, reply, static_cast<int>(kFrameSize));
    return reply[kCode] == static_cast<uint8_t>(code + 0x80);
}

}  // namespace tevrolink
