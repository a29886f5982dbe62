#include "link/transaction.h"

#include <algorithm>
#include <cstring>

#include "link/clock.h"
#include "link/frame.h"
#include "link/receive.h"
#include "link/shell.h"
#include "link/shell_wait.h"
#include "link/spare_replies.h"

namespace tevrolink {
namespace {

SpareReplies &Spares() {
    static SpareReplies spares;
    return spares;
}

bool IsSequenced(uint8_t code) { return code == kCodeStream || code == kCodeData; }

// The value groups of the status profile that describe the host's buffer (bytes 4-17)
// belong to the previous frame once a new sequenced frame is on its way.
constexpr std::size_t kBufferGroupsBegin = 4;
constexpr std::size_t kBufferGroupsEnd = 18;

// Takes in what is already on its way before a request goes out: none of it can answer the
// request, and a copy of the last answer to the same code travels close behind that answer.
// Link-control frames and status reports are acted on as in any poll; the rest is dropped,
// as it would be while the reply is awaited. A steady stream of frames ends it after
// kCopyWindowMs.
void TakeInFramesOnTheirWay(uint8_t code) {
    Shell &shell = TheShell();
    const int64_t limit = MonotonicMs() + kCopyWindowMs;
    const int64_t quiet = Spares().QuietFrom(code);
    for (int64_t now = MonotonicMs(); now < limit && shell.IsOpen(); now = MonotonicMs()) {
        if (IsShellReadable(nullptr, nullptr)) {
            Spares().TakeSpare(shell.port.rxFrame, now);
            continue;
        }
        const bool arriving = FrameOnItsWay();
        if (!arriving && now >= quiet) return;
        WaitForLink(static_cast<int>((arriving ? limit : std::min(quiet, limit)) - now));
    }
}

}  // namespace

int TransactFrame(uint8_t *request, uint8_t *reply, int capacity) {
    Shell &shell = TheShell();
    if (!shell.IsOpen()) return 0;
    request[kSeq] = 0;
    // Numbered requests are answered by numbered reports; commands are told apart by time.
    const bool sequenced = IsSequenced(request[kCode]);
    if (!sequenced && reply) {
        TakeInFramesOnTheirWay(request[kCode]);
        if (!shell.IsOpen()) return 0;
    }
    if (sequenced) {
        if (shell.linkState != kLinkReady) return 0;
        std::memset(shell.statusBlock + kBufferGroupsBegin, 0, kBufferGroupsEnd - kBufferGroupsBegin);
        request[kSeq] = ++shell.txSeq;
        shell.port.resendCount = 0;
        shell.linkState = kLinkAwaitingAck;
        shell.lastActivity = MonotonicMs();
        std::memcpy(shell.pendingFrame, request, kFrameSize);
        // With hand-shake on the link keeper resends it unless acknowledged: a deadline a
        // waiter planned without.
        if (shell.handShake) WakeLinkWatchers();
    }
    WriteFrame(shell.port, request);
    // A frame that went to a line found gone was not sent.
    if (CloseHungUpShell()) return 0;
    if (!reply) return 1;

    // Computed without wrap-around: a request code of 0x80 or more never matches.
    const int replyCode = request[kCode] + 0x80;
    int64_t sentAt = MonotonicMs();
    int sends = 1;
    // How the request ended, so that the spare answers it may still bring are known.
    const auto ended = [&](const uint8_t *answer) {
        if (!sequenced) Spares().Ended(request[kCode], answer, sends, sentAt, MonotonicMs());
    };
    while (sends <= kRequestResends) {
        if (IsShellReadable(nullptr, nullptr)) {
            const uint8_t *frame = shell.port.rxFrame;
            // A status report names the stream frame it acknowledges: one for an earlier
            // frame (doubled on the way, or late after a resend) does not answer this one.
            const bool forThis = sequenced ? frame[kCode] != kCodeStatusAck || frame[kSeq] == request[kSeq]
                                           : !Spares().TakeSpare(frame, MonotonicMs());
            if (frame[kCode] == replyCode && forThis) {
                ended(frame);
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
            ++sends;
            continue;
        }
        WaitForLink(static_cast<int>(kReplyWaitMs - elapsed));
    }
    ended(nullptr);
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
