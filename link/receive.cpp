#include "link/receive.h"

#include <poll.h>

#include <cstring>

#include "link/clock.h"
#include "link/frame.h"
#include "link/packets.h"
#include "link/shell.h"
#include "link/status_profile.h"

namespace tevrolink {

namespace {

// A report acknowledging an earlier stream frame than the last one sent (doubled on the
// way, or late after a resend) tells of room that the last frame may have taken since:
// taken as news, it would grant a frame the node has no room for.
bool ReportsAnEarlierFrame(const Shell &shell) {
    const uint8_t *frame = shell.port.rxFrame;
    return frame[kCode] == kCodeStatusAck && frame[kSeq] != shell.txSeq;
}

}  // namespace

int IsShellReadable(uint8_t *linkState, uint16_t *credit) {
    Shell &shell = TheShell();
    if (linkState) *linkState = shell.linkState;
    if (!shell.IsOpen()) return 0;
    if (shell.handShake) KeepLink();
    if (!shell.port.link->PollFrame(shell.port)) {
        CloseHungUpShell();
        return 0;
    }
    if (!HandleLinkControl(shell.port.rxFrame)) return 0;
    if (IsValidStatusPacket(shell.port.rxFrame, nullptr) && !ReportsAnEarlierFrame(shell)) DecodeStatus();
    uint8_t profile[kStatusSize];
    GetStatusPacketProfile(profile);
    if (credit) *credit = ProfileWord(profile, kProfileCredit);
    return 1;
}

void KeepLink() {
    Shell &shell = TheShell();
    const int64_t now = MonotonicMs();
    if (now - shell.lastActivity < kKeeperPeriodMs) return;
    switch (shell.linkState) {
    case kLinkUnsynced:
        SendControlFrame(kCodeSyncRequest, shell.txSeq);
        shell.lastActivity = now;
        break;
    case kLinkAwaitingAck:
        if (shell.port.resendCount >= kKeeperResends) {
            shell.linkState = kLinkUnsynced;
            break;
        }
        WriteFrame(shell.port, shell.pendingFrame);
        ++shell.port.resendCount;
        shell.lastActivity = now;
        break;
    default:
        break;
    }
}

int HandleLinkControl(const uint8_t *frame) {
    Shell &shell = TheShell();
    switch (frame[kCode]) {
    case kCodeData:
        if (!shell.handShake) return 1;
        if (frame[kSeq] != static_cast<uint8_t>(shell.rxSeq + 1)) {
            shell.port.ResetReceive();
            return 0;
        }
        shell.rxSeq = frame[kSeq];
        shell.lastActivity = MonotonicMs();
        SendControlFrame(kCodeDataAck, shell.rxSeq);
        return 1;
    case kCodeSyncRequest:
        shell.linkState = kLinkUnsynced;
        shell.port.resendCount = 0;
        shell.rxSeq = frame[kSeq];
        SendControlFrame(kCodeSyncReply, shell.txSeq);
        shell.lastActivity = MonotonicMs();
        return 0;
    case kCodeSyncReply:
        shell.linkState = kLinkReady;
        shell.port.resendCount = 0;
        shell.rxSeq = frame[kSeq];
        SendControlFrame(kCodeSyncConfirm, shell.txSeq);
        shell.lastActivity = MonotonicMs();
        return 0;
    case kCodeSyncConfirm:
        shell.linkState = kLinkReady;
        shell.port.resendCount = 0;
        shell.lastActivity = MonotonicMs();
        return 0;
    default:
        return 1;
    }
}

void DecodeStatus() {
    Shell &shell = TheShell();
    DecodeStatusPayload(shell.port.rxFrame + kPayload, shell.statusBlock);
    shell.statusFresh = 1;
}

int KeeperDueInMs() {
    constexpr int kIdle = 1000000;
    const Shell &shell = TheShell();
    if (!shell.handShake || shell.linkState == kLinkReady) return kIdle;
    const int64_t due = shell.lastActivity + kKeeperPeriodMs - MonotonicMs();
    return due < 0 ? 0 : static_cast<int>(due);
}

void WaitForLink(int timeoutMs) {
    Shell &shell = TheShell();
    if (!shell.IsOpen() || timeoutMs <= 0) return;
    const int keeper = KeeperDueInMs();
    shell.port.link->WaitForInput(shell.port, keeper < timeoutMs ? keeper : timeoutMs);
    CloseHungUpShell();
}

bool FrameOnItsWay() {
    const ShellPort &port = TheShell().port;
    if (!port.link) return false;
    if (port.rxState == kRxSynced || port.rxState == kRxHeader) return true;
    struct pollfd pfd {port.link->Descriptor(), POLLIN, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN);
}

}  // namespace tevrolink
