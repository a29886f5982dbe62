// The 32-byte status profile decoded from the host node's status reports.
#pragma once

#include <cstdint>
#include <cstring>

namespace tevrolink {

// Profile offsets of the fields the library itself reads.
constexpr std::size_t kProfileHostState = 1;
constexpr std::size_t kProfilePeer = 2;
constexpr std::size_t kProfileFlags = 3;
constexpr std::size_t kProfileWaiting = 12;  // bytes still in the host's transmit buffer
constexpr std::size_t kProfileCredit = 14;   // bytes the host accepts now
constexpr std::size_t kProfileBufferSize = 16;
constexpr std::size_t kProfileGate = 19;     // must be 0 for writing

// Host flags.
constexpr uint8_t kFlagReceiverActive = 0x80;
constexpr uint8_t kFlagNeedsActivation = 0x08;
constexpr uint8_t kFlagSuspended = 0x04;

// The profile holds 16-bit values in host order.
inline uint16_t ProfileWord(const uint8_t *profile, std::size_t offset) {
    uint16_t v;
    std::memcpy(&v, profile + offset, sizeof v);
    return v;
}

// Decodes payload bytes 0 to 30 of a status report into `profile`; bytes the report does
// not supply (0, 4, 11, 18, 25) are left as they were.
void DecodeStatusPayload(const uint8_t *payload, uint8_t *profile);

}  // namespace tevrolink
