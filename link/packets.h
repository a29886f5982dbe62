// Tests and field readers of the frames the host node sends on its own. Functions given
// no frame read the receive frame, which the last poll reported.
#pragma once

#include <cstdint>

#include "tevrolink/tevrolink.h"

namespace tevrolink {

enum PacketCode : uint8_t {
    kCodeDebug = 0x1F,
    kCodeDebugShort = 0x30,
    kCodeSignal = 0xB1,
};

// Attribute flags of data and stream frames.
constexpr uint8_t kAttrInfo = TEVROLINK_FLAG_INFO;
constexpr uint8_t kAttrFirst = TEVROLINK_FLAG_FIRST;
constexpr uint8_t kAttrLast = TEVROLINK_FLAG_LAST;

int IsValidDataPacket(const uint8_t *frame, uint8_t *kind);
int IsDataPacketHead(const uint8_t *frame);
int IsDataPacketTail(const uint8_t *frame);
int IsDataPacketInfo(const uint8_t *frame);
uint8_t *GetDataPacketProfile(const uint8_t *frame, uint8_t *station, uint8_t *length);
int SetPacketAttribute(uint8_t *buffer, int flags);
int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind);
int GetStatusPacketProfile(uint8_t *profile);
int IsValidDebugPacket(uint8_t *kind);
uint8_t *GetDebugPacketProfile(uint8_t *subKind);
int IsValidSignalPacket(const uint8_t *frame);
uint8_t *GetSignalPacketProfile(const uint8_t *frame);

}  // namespace tevrolink
