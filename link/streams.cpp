#include "link/streams.h"

#include <algorithm>
#include <cstring>

#include "link/clock.h"
#include "link/frame.h"
#include "link/packets.h"
#include "link/receive.h"
#include "link/shell.h"
#include "link/status_profile.h"
#include "link/transaction.h"

namespace tevrolink {
namespace {

// The room granted per frame: the credit in steps of 50 bytes, at most 200.
constexpr uint16_t kWriteGranule = 50;

// Builds a stream frame of at most 240 payload bytes (only the low 8 bits of `length` count).
void BuildStream(uint8_t *frame, const uint8_t *source, uint32_t length, uint8_t node, uint8_t attr) {
    std::memset(frame, 0, kFrameSize);
    frame[kCode] = kCodeStream;
    frame[kNode] = node;
    frame[kAttr] = attr;
    const uint8_t size = static_cast<uint8_t>(std::min<uint32_t>(length & 0xFFu, kFramePayload));
    frame[kLength] = size;
    if (source && size) std::memcpy(frame + kPayload, source, size);
}

// Tracks when the link last delivered any frame, so that the waits give up on silence.
class SilenceWatch {
public:
    SilenceWatch() : lastFrame_(MonotonicMs()) {}
    void Polled() {
        if (TheShell().port.rxState == kRxComplete) lastFrame_ = MonotonicMs();
    }
    bool Expired() const { return MonotonicMs() - lastFrame_ >= kSilenceLimitMs; }
    int RemainingMs() const {
        return static_cast<int>(std::max<int64_t>(0, lastFrame_ + kSilenceLimitMs - MonotonicMs()));
    }

private:
    int64_t lastFrame_;
};

int RemainingOf(int64_t since, int periodMs) {
    return static_cast<int>(std::max<int64_t>(0, since + periodMs - MonotonicMs()));
}

static_assert(kAcknowledgementLimitMs == kKeeperPeriodMs * (kKeeperResends + 1));

// With hand-shake on, every resend of the keeper renews `lastActivity`, and the keeper
// drops the link out of step before this can hold; without it, this is the only end.
bool AcknowledgementOverdue() {
    const Shell &shell = TheShell();
    return shell.linkState == kLinkAwaitingAck &&
           MonotonicMs() - shell.lastActivity >= kAcknowledgementLimitMs;
}

}  // namespace

int WriteStreamToShell(const uint8_t *source, uint32_t length, int station, int kind, int flags) {
    uint8_t frame[kFrameSize];
    const uint8_t attr = static_cast<uint8_t>((kind << 4) | (flags & 0x0F));
    BuildStream(frame, source, length, static_cast<uint8_t>(station), attr);
    return TransactFrame(frame, nullptr, 0);
}

int SendPacketToHostNode(const uint8_t *source, uint32_t length) {
    uint8_t frame[kFrameSize];
    BuildStream(frame, source, length & 0xFFu, kHostNode, 0);
    TheShell().linkState = kLinkReady;
    uint8_t reply[kFrameSize] = {};
    TransactFrame(frame, reply, static_cast<int>(kFrameSize));
    return reply[kCode] == kCodeStatusAck ? 1 : 0;
}

int RecvPacketFromHostNode(uint8_t *dest, int capacity, uint32_t count) {
    uint8_t request[kFrameSize] = {};
    request[kCode] = kCodeData;
    request[kNode] = kHostNode;
    request[kLength] = 4;
    for (int i = 0; i < 4; ++i) request[kPayload + i] = static_cast<uint8_t>(count >> (8 * i));
    TheShell().linkState = kLinkReady;
    uint8_t reply[kFrameSize] = {};
    TransactFrame(request, reply, static_cast<int>(kFrameSize));
    if (reply[kCode] != kCodeDataAck || !dest) return 0;
    const int n = std::min<int>(reply[kLength], std::max(capacity, 0));
    std::memcpy(dest, reply + kPayload, static_cast<std::size_t>(n));
    return n;
}

int QueryHostRTxStatus(uint8_t *profile) {
    Shell &shell = TheShell();
    if (profile) std::memcpy(profile, shell.statusBlock, kStatusSize);
    if (shell.statusFresh) {
        shell.statusFresh = 0;
        return 1;
    }
    uint8_t query[kFrameSize] = {};
    query[kCode] = kCodeStatusQuery;
    TransactFrame(query, nullptr, 0);
    return 0;
}

int IsShellWritable(uint8_t *linkState, uint16_t *size) {
    Shell &shell = TheShell();
    if (linkState) *linkState = shell.linkState;
    if (!shell.IsOpen() || shell.linkState != kLinkReady) return 0;
    uint8_t profile[kStatusSize];
    GetStatusPacketProfile(profile);
    const uint8_t flags = profile[kProfileFlags];
    if (ProfileWord(profile, kProfileGate) != 0) return 0;
    if ((flags & kFlagSuspended) || !(flags & kFlagReceiverActive)) return 0;
    uint16_t room = std::min<uint16_t>(ProfileWord(profile, kProfileCredit), kFramePayload);
    room = static_cast<uint16_t>(room / kWriteGranule * kWriteGranule);
    if (room == 0) return 0;
    if (size) *size = room;
    return 1;
}

int WaitForShellWritable(uint16_t *size) {
    Shell &shell = TheShell();
    uint8_t copy[kStatusSize];
    GetStatusPacketProfile(copy);
    int64_t queriedAt = MonotonicMs();
    const int64_t started = queriedAt;
    SilenceWatch silence;
    for (;;) {
        uint8_t state = kLinkUnsynced;
        IsShellReadable(&state, nullptr);
        silence.Polled();
        if (state == kLinkUnsynced || !shell.IsOpen() || AcknowledgementOverdue()) return kWriteWaitFailed;
        if (IsShellWritable(nullptr, size)) return copy[kProfileFlags];
        if (MonotonicMs() - queriedAt >= kStatusQueryPeriodMs) {
            QueryHostRTxStatus(copy);
            queriedAt = MonotonicMs();
        }
        if (copy[kProfileFlags] & kFlagSuspended) return copy[kProfileFlags];
        if (silence.Expired() || MonotonicMs() - started >= kNoRoomLimitMs) return kWriteWaitFailed;
        if (shell.port.rxState != kRxComplete)
            WaitForLink(std::min({RemainingOf(queriedAt, kStatusQueryPeriodMs), silence.RemainingMs(),
                                  RemainingOf(started, kNoRoomLimitMs)}));
    }
}

int WaitForShellEmpty(uint16_t *credit) {
    Shell &shell = TheShell();
    int64_t queriedAt = MonotonicMs();
    SilenceWatch silence;
    // Progress is a waiting count below the lowest seen so far; bytes added meanwhile are not.
    uint16_t lowest = ProfileWord(shell.statusBlock, kProfileWaiting);
    int64_t wentDownAt = queriedAt;
    for (;;) {
        uint16_t polled = 0;
        const bool reported = IsShellReadable(nullptr, &polled);
        silence.Polled();
        const uint16_t waiting = ProfileWord(shell.statusBlock, kProfileWaiting);
        if (waiting < lowest) {
            lowest = waiting;
            wentDownAt = MonotonicMs();
        }
        if (!shell.IsOpen() || silence.Expired() || MonotonicMs() - wentDownAt >= kNoDrainLimitMs) {
            if (credit) *credit = 0;
            return 0;
        }
        if (waiting == 0) {
            if (credit) *credit = reported ? polled : ProfileWord(shell.statusBlock, kProfileCredit);
            return 1;
        }
        if (MonotonicMs() - queriedAt > kStatusQueryPeriodMs) {
            QueryHostRTxStatus(nullptr);
            queriedAt = MonotonicMs();
        }
        if (shell.port.rxState != kRxComplete)
            WaitForLink(std::min({RemainingOf(queriedAt, kStatusQueryPeriodMs + 1), silence.RemainingMs(),
                                  RemainingOf(wentDownAt, kNoDrainLimitMs)}));
    }
}

bool WaitForAcknowledgement() {
    Shell &shell = TheShell();
    SilenceWatch silence;
    for (;;) {
        if (!shell.IsOpen() || shell.linkState == kLinkUnsynced) return false;
        if (shell.linkState == kLinkReady) return true;
        IsShellReadable(nullptr, nullptr);
        silence.Polled();
        if (silence.Expired() || AcknowledgementOverdue()) return false;
        if (shell.port.rxState != kRxComplete)
            WaitForLink(std::min(silence.RemainingMs(), RemainingOf(shell.lastActivity, kAcknowledgementLimitMs)));
    }
}

}  // namespace tevrolink
