// The 32-byte status profile decoded from the host node's status reports.
#pragma once

#include <cstdint>
#include <cstring>

#include "tevrolink/tevrolink.h"

namespace tevrolink {

// Profile offsets of the fields the library itself reads, as the public header names them.
constexpr std::size_t kProfileHostState = TEVROLINK_PROFILE_STATE;
constexpr std::size_t kProfilePeer = TEVROLINK_PROFILE_PEER;
constexpr std::size_t kProfileFlags = TEVROLINK_PROFILE_FLAGS;
constexpr std::size_t kProfileWaiting = TEVROLINK_PROFILE_WAITING;  // bytes still in the host's transmit buffer
constexpr std::size_t kProfileCredit = TEVROLINK_PROFILE_CREDIT;    // bytes the host accepts now
constexpr std::size_t kProfileBufferSize = TEVROLINK_PROFILE_BUFFER_SIZE;
constexpr std::size_t kProfileGate = TEVROLINK_PROFILE_GATE;        // must be 0 for writing

// Host flags.
constexpr uint8_t kFlagReceiverActive = TEVROLINK_HOST_ACTIVE;
constexpr uint8_t kFlagNeedsActivation = TEVROLINK_HOST_NEEDS_ACTIVATION;
constexpr uint8_t kFlagSuspended = TEVROLINK_HOST_SUSPENDED;

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
