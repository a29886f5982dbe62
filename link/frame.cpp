#include "link/frame.h"

#include <cstring>

#include "link/checksum.h"

namespace tevrolink {
namespace {

uint16_t FrameCrc(const uint8_t *frame) {
    // The CRC covers the header with its CRC field zeroed; compute over a copy of the
    // header so that a frame under test is never modified.
    uint8_t header[kFrameHeader];
    std::memcpy(header, frame, kFrameHeader);
    header[kCrcHigh] = 0;
    header[kCrcLow] = 0;
    const uint16_t crc = Crc16Modbus(header, kFrameHeader);
    return Crc16ModbusUpdate(crc, frame + kFrameHeader, frame[kLength]);
}

}  // namespace

void SealLinkFrame(uint8_t *frame) {
    frame[kSync] = kSyncByte;
    frame[kCrcHigh] = 0;
    frame[kCrcLow] = 0;
    const uint16_t crc = Crc16Modbus(frame, FrameWireSize(frame));
    frame[kCrcHigh] = static_cast<uint8_t>(crc >> 8);
    frame[kCrcLow] = static_cast<uint8_t>(crc & 0xFFu);
}

bool CheckLinkFrame(const uint8_t *frame) {
    if (frame[kSync] != kSyncByte) return false;
    return FrameCrc(frame) == (frame[kCrcHigh] << 8 | frame[kCrcLow]);
}

}  // namespace tevrolink
