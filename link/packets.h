// Tests and field readers of the frames the host node sends on its own.
#pragma once

#include <cstdint>

namespace tevrolink {

int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind);
int GetStatusPacketProfile(uint8_t *profile);

}  // namespace tevrolink
