// The 31-byte payload of the host node's status reports (0x9D acknowledgement, 0x9C answer
// to a status query): state, peer, flags and the transmit buffer's fill, credit and size.
#pragma once

#include "sim/host_model.h"
#include "sim/wire.h"

namespace hostsim {

constexpr std::size_t kStatusPayloadSize = 31;

// Payload offsets; 16-bit fields are big-endian.
constexpr std::size_t kStatusHostState = 0;
constexpr std::size_t kStatusPeer = 1;
constexpr std::size_t kStatusFlags = 2;
constexpr std::size_t kStatusWaiting = 11;
constexpr std::size_t kStatusCredit = 13;
constexpr std::size_t kStatusBufferSize = 15;
constexpr std::size_t kStatusGate = 18;

Bytes BuildStatusPayload(const HostModel &model);

}  // namespace hostsim
