#include "link/packets.h"

#include <cstring>

#include "link/frame.h"
#include "link/receive.h"
#include "link/shell.h"

namespace tevrolink {
namespace {

// Frames are handed out as pointers into the caller's or the library's record, as the C
// interface has always done; the library never writes through them.
uint8_t *OrReceiveFrame(const uint8_t *frame) {
    return const_cast<uint8_t *>(frame ? frame : TheShell().port.rxFrame);
}

int AttributeBit(const uint8_t *frame, int bit) {
    return (OrReceiveFrame(frame)[kAttr] >> bit) & 1;
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

int IsValidDataPacket(const uint8_t *frame, uint8_t *kind) {
    frame = OrReceiveFrame(frame);
    if (frame[kCode] != kCodeData) return 0;
    if (kind) *kind = frame[kAttr] >> 4;
    return 1;
}

int IsDataPacketHead(const uint8_t *frame) { return AttributeBit(frame, 2); }
int IsDataPacketTail(const uint8_t *frame) { return AttributeBit(frame, 3); }
int IsDataPacketInfo(const uint8_t *frame) { return AttributeBit(frame, 1); }

uint8_t *GetDataPacketProfile(const uint8_t *frame, uint8_t *station, uint8_t *length) {
    uint8_t *f = OrReceiveFrame(frame);
    if (station) *station = f[kNode];
    if (length) *length = f[kLength];
    return f + kPayload;
}

int SetPacketAttribute(uint8_t *buffer, int flags) {
    // A run of records from byte 8, byte 5 giving its total length; in each record's
    // header byte 2 is the attribute and byte 3 the payload length.
    constexpr int kAttrAt = 2;
    constexpr int kLengthAt = 3;
    const unsigned total = buffer[kLength];
    uint8_t offset = 0;
    // Records of at most 240 bytes always advance; the bound keeps a hostile length run
    // from cycling through the 8-bit offset for ever.
    for (int records = 0; records < 256 / 8; ++records) {
        uint8_t *record = buffer + kPayload + offset;
        const bool first = offset == 0;
        record[kAttrAt] &= 0x0F;
        if (first && (flags & kAttrFirst)) record[kAttrAt] |= kAttrFirst;
        offset = static_cast<uint8_t>(offset + record[kLengthAt] + 8);
        if (offset >= total && (flags & kAttrLast)) record[kAttrAt] |= kAttrLast;
        if (flags & kAttrInfo) record[kAttrAt] |= kAttrInfo;
        if (offset >= total) break;
    }
    return offset;
}

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

int IsValidDebugPacket(uint8_t *kind) {
    const uint8_t code = TheShell().port.rxFrame[kCode];
    if (code != kCodeDebug && code != kCodeDebugShort) return 0;
    if (kind) *kind = code == kCodeDebug ? 1 : 2;
    return 1;
}

uint8_t *GetDebugPacketProfile(uint8_t *subKind) {
    uint8_t *frame = TheShell().port.rxFrame;
    if (subKind) *subKind = frame[kSeq];
    return frame + kPayload;
}

int IsValidSignalPacket(const uint8_t *frame) {
    return OrReceiveFrame(frame)[kCode] == kCodeSignal ? 1 : 0;
}

uint8_t *GetSignalPacketProfile(const uint8_t *frame) {
    uint8_t *f = OrReceiveFrame(frame);
    return f[kCode] == kCodeSignal ? f + kPayload : nullptr;
}

}  // namespace tevrolink
