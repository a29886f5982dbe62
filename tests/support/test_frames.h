// Builds sealed frames as they travel on the wire, for tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "link/frame.h"

namespace testing_frames {

inline std::vector<uint8_t> WireFrame(uint8_t code, const std::vector<uint8_t> &payload = {},
                                      uint8_t seq = 0, uint8_t node = 0, uint8_t attr = 0) {
    std::vector<uint8_t> f(tevrolink::kFrameSize, 0);
    f[tevrolink::kCode] = code;
    f[tevrolink::kSeq] = seq;
    f[tevrolink::kNode] = node;
    f[tevrolink::kAttr] = attr;
    f[tevrolink::kLength] = static_cast<uint8_t>(payload.size());
    if (!payload.empty()) std::memcpy(f.data() + tevrolink::kPayload, payload.data(), payload.size());
    tevrolink::SealLinkFrame(f.data());
    f.resize(tevrolink::FrameWireSize(f.data()));
    return f;
}

}  // namespace testing_frames
