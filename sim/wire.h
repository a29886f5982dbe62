// Frames and byte helpers shared by every part of the stand-in host node.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/frame.h"

namespace hostsim {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// A station bitmap: station n is bit (n mod 8) of byte (n div 8).
using StationBitmap = std::array<uint8_t, 32>;

// Header field positions, named as the link library names them.
using tevrolink::kAttr;
using tevrolink::kCode;
using tevrolink::kLength;
using tevrolink::kNode;
using tevrolink::kPayload;
using tevrolink::kSeq;

constexpr uint8_t kHostNode = tevrolink::kHostNode;

// Builds a frame of 8 + payload bytes, sealed (sync byte and CRC set). Payloads longer
// than 255 bytes are cut, since the length byte cannot say more.
Bytes BuildFrame(uint8_t code, uint8_t seq, uint8_t node, uint8_t attr,
                 std::span<const uint8_t> payload = {});
// Seals a frame in place (the bytes must hold at least 8 + its length byte).
void Seal(Bytes &frame);

inline std::span<const uint8_t> PayloadOf(const Bytes &frame) {
    if (frame.size() < kPayload) return {};
    const std::size_t n = std::min<std::size_t>(frame[kLength], frame.size() - kPayload);
    return {frame.data() + kPayload, n};
}

inline uint32_t ReadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void AppendLe32(Bytes &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void StoreBe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v & 0xFFu);
}

inline bool BitmapHas(const StationBitmap &map, unsigned station) {
    return station < 256 && (map[station / 8] >> (station % 8) & 1u) != 0;
}
inline void BitmapSet(StationBitmap &map, unsigned station) {
    if (station < 256) map[station / 8] |= static_cast<uint8_t>(1u << (station % 8));
}

}  // namespace hostsim
