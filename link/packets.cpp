#include "link/packets.h"

#include <cstring>

#include "link/frame.h"
#include "link/receive.h"
#include "link/shell.h"

namespace tevrolink {
namespace {

const uint8_t *OrReceiveFrame(const uint8_t *frame) {
    return frame ? frame : TheShell().port.rxFrame;
}

// A status report 0x9D acknowledges the sequenced frame numbered in its byte 2.
void ApplyAcknowledgement(uint8_t acknowledged) {
    Shell &shell = TheShell();
    if (!shell.handShake) {
        shell.linkState = kLinkReady;
        return;
    }
    if (shell.linkState != kLinkAwaitingAck) return;
    if (!SeqInWindow(shell.txSeq, acknowledged, 2)) {
        shell.linkState = kLinkUnsynced;
    } else if (acknowledged == shell.txSeq) {
        shell.linkState = kLinkReady;
        shell.port.resendCount = 0;
    }
}

}  // namespace

int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind) {
    frame = OrReceiveFrame(frame);
    switch (frame[kCode]) {
    case kCodeStatusAck:
        if (kind) *kind = 1;
        ApplyAcknowledgement(frame[kSeq]);
        return 1;
    case kCodeStatusQueried:
        if (kind) *kind = 2;
        return 1;
    default:
        return 0;
    }
}

int GetStatusPacketProfile(uint8_t *profile) {
    Shell &shell = TheShell();
    if (profile) std::memcpy(profile, shell.statusBlock, kStatusSize);
    shell.statusFresh = 0;
    return 1;
}

}  // namespace tevrolink
