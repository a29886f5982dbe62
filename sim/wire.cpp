#include "sim/wire.h"

#include <algorithm>

namespace hostsim {

Bytes BuildFrame(uint8_t code, uint8_t seq, uint8_t node, uint8_t attr,
                 std::span<const uint8_t> payload) {
    const std::size_t n = std::min<std::size_t>(payload.size(), 255);
    Bytes frame(kPayload + n, 0);
    frame[kCode] = code;
    frame[kSeq] = seq;
    frame[kNode] = node;
    frame[kAttr] = attr;
    frame[kLength] = static_cast<uint8_t>(n);
    std::copy_n(payload.begin(), n, frame.begin() + kPayload);
    Seal(frame);
    return frame;
}

void Seal(Bytes &frame) {
    if (frame.size() < kPayload) frame.resize(kPayload, 0);
    if (frame.size() < kPayload + frame[kLength]) frame.resize(kPayload + frame[kLength], 0);
    tevrolink::SealLinkFrame(frame.data());
}

}  // namespace hostsim
