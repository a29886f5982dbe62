// The text of one trace record for a debug packet, byte for byte as the trace file holds
// it. Debug payload offsets are those of the host node's debug packets.
#pragma once

#include <cstdint>
#include <string>

#include "manager/core/clock.h"

namespace meradon {

// Kind-1 payload offsets used outside the trace detail.
constexpr std::size_t kDebugSelf = 14;       // the host node's own station
constexpr std::size_t kDebugBitmaps = 21;    // four station bitmaps of 32 bytes
constexpr std::size_t kDebugCmd = 151;
constexpr std::size_t kDebugStationB = 153;
constexpr std::size_t kDebugStationA = 154;
constexpr std::size_t kDebugSuit = 156;
constexpr std::size_t kDebugPayloadMin = 157;  // bytes a kind-1 payload must hold

// Record of a kind-1 debug packet; empty when the event involves neither station as the
// host node itself (such events are not traced).
std::string FormatTraceLong(uint8_t event, const uint8_t *payload, const LocalTime &time);
// Record of a kind-2 debug packet.
std::string FormatTraceShort(uint8_t event, const uint8_t *payload, const LocalTime &time);

}  // namespace meradon
