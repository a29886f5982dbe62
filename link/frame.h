// The link frame: layout, codes, sealing and checking.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tevrolink {

constexpr std::size_t kFrameHeader = 8;
constexpr std::size_t kFramePayload = 240;
constexpr std::size_t kFrameSize = kFrameHeader + kFramePayload;  // one frame record
// Received frames are read with their length byte unlimited, up to 8 + 255 bytes.
constexpr std::size_t kReceiveBufferSize = kFrameHeader + 255;

constexpr uint8_t kSyncByte = 0xAA;

// Header byte positions.
enum FrameByte : std::size_t {
    kSync = 0,
    kCode = 1,
    kSeq = 2,
    kNode = 3,
    kAttr = 4,
    kLength = 5,
    kCrcHigh = 6,
    kCrcLow = 7,
    kPayload = 8,
};

// Frame codes the link layer itself acts on.
enum FrameCode : uint8_t {
    kCodeStatusQuery = 0x1C,
    kCodeStream = 0x1D,
    kCodeData = 0x1E,
    kCodeSyncRequest = 0x27,
    kCodeSyncReply = 0x28,
    kCodeSyncConfirm = 0x29,
    kCodeStatusQueried = 0x9C,
    kCodeStatusAck = 0x9D,
    kCodeDataAck = 0x9E,
};

constexpr uint8_t kHostNode = 255;

inline std::size_t FrameWireSize(const uint8_t *frame) { return kFrameHeader + frame[kLength]; }

// Sets the sync byte and the CRC over the first 8 + L bytes (CRC field taken as zero).
void SealLinkFrame(uint8_t *frame);
// True when the sync byte is right and the stored CRC matches. Leaves the frame unchanged.
bool CheckLinkFrame(const uint8_t *frame);

}  // namespace tevrolink
