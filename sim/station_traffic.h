// What stations send to the PC through the host node: files as data packets, debug
// packets of both kinds and signal packets, laid out as the PC reads them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/station.h"
#include "sim/wire.h"

namespace hostsim {

constexpr uint8_t kCodeDebugLong = 0x1F;
constexpr uint8_t kCodeDebugShort = 0x30;
constexpr uint8_t kCodeSignal = 0xB1;
constexpr uint8_t kAttrFile = 0x10;  // packet kind 1 in the high nibble

// Signal state codes: high nibble 9 belongs to a network search; station 255 ends it.
constexpr uint8_t kSignalSearch = 0x90;
constexpr uint8_t kSignalEndStation = 0xFF;

struct FileSendOptions {
    std::size_t chunk = 200;      // payload bytes per data packet (1 to 240)
    bool announce = true;         // send the information packet first
    bool wrongSize = false;       // announce one byte more than is sent
    bool wrongCrc = false;        // announce a CRC-32 that does not match
    bool stopBeforeTail = false;  // leave the last packet out
};

struct DataPacketSpec {
    uint8_t attribute = 0;
    Bytes payload;
};

// Information, head, middle and tail packets of a file; a file of one chunk goes as one
// packet flagged head and tail, an empty file as one such packet with no data.
std::vector<DataPacketSpec> FilePackets(std::span<const uint8_t> content,
                                        const FileSendOptions &options);

// One radio event as the host's debug packets report it.
struct DebugEvent {
    uint8_t subKind = 1;   // frame byte 2: 1-3 packets, 4-7, 9, 10 events
    uint8_t stationA = 0;  // the two stations of the event
    uint8_t stationB = 0;
    uint8_t cmd = 0;
    uint8_t pktId = 0;
    uint8_t mask = 0;      // low nibble used
    uint8_t suit = 0;      // low 6 bits
    uint8_t mode = 0;      // 2 bits
    uint8_t counter = 0;
    uint8_t r = 0, w = 0, tx = 0, rx = 0, init = 0;
    std::array<uint8_t, 8> raw{};
};

constexpr std::size_t kDebugLongSize = 157;
constexpr std::size_t kDebugShortSize = 8;

// Kind-1 payload: the event with the host's own number, the link quality of station A and
// the four station bitmaps of the network as it stands.
Bytes DebugLongPayload(const DebugEvent &event, uint8_t self, const StationTable &stations);
// Kind-2 payload: the event alone.
Bytes DebugShortPayload(const DebugEvent &event);

// Signal payload: state code, station, its state byte and link quality.
Bytes SignalPayload(uint8_t stateCode, uint8_t station, const Station &s);

}  // namespace hostsim
