// Sealing frames built from fuzz input. A random CRC almost never matches, so inputs can
// ask for their frames to be sealed: mutations of a valid frame then still reach the code
// behind the CRC check.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame.h"

namespace fuzz {

// Seals the frame at the start of `bytes` when all of it (header and the payload its
// length byte announces) lies within `size` bytes; leaves anything shorter as it is.
inline void SealWholeFrame(uint8_t *bytes, std::size_t size) {
    if (size < tevrolink::kFrameHeader || tevrolink::FrameWireSize(bytes) > size) return;
    tevrolink::SealLinkFrame(bytes);
}

}  // namespace fuzz
