// Packet records as the worker queues them for the window: data packets of a station's
// file and signal packets with link quality.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "manager/core/app_state.h"
#include "manager/core/quality_values.h"

namespace meradon_test {

constexpr uint8_t kInfo = 2, kHead = 4, kTail = 8;

inline meradon::PacketRecord DataPacket(uint8_t station, uint8_t flags, const std::vector<uint8_t> &payload) {
    meradon::PacketRecord r{};
    r[0] = 0xAA;
    r[1] = 0x1E;
    r[3] = station;
    r[4] = static_cast<uint8_t>(0x10 | flags);
    r[5] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), r.begin() + 8);
    return r;
}

inline meradon::PacketRecord InfoPacket(uint8_t station, uint32_t size, uint32_t crc) {
    std::vector<uint8_t> p(8);
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(size >> (8 * i));
        p[4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    return DataPacket(station, kInfo, p);
}

// A signal frame of `station` with the four quality bytes; 0x9_ codes answer a search.
inline meradon::PacketRecord SignalFrame(uint8_t station, const meradon::QualityValues &q,
                                         uint8_t code = 0x40) {
    meradon::PacketRecord frame{};
    frame[0] = 0xAA;
    frame[1] = 0xB1;
    frame[5] = 7;
    const uint8_t payload[7] = {code, station, 0xD0, q[0], q[1], q[2], q[3]};
    std::copy(payload, payload + 7, frame.begin() + 8);
    return frame;
}

}  // namespace meradon_test
