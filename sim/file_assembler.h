// Puts together the files a station receives as kind-1 packets (information, head,
// middle, tail) and checks them against the size and CRC-32 the information announced.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/wire.h"

namespace hostsim {

// Attribute flags of file packets.
constexpr uint8_t kFlagInfo = 0x02;
constexpr uint8_t kFlagHead = 0x04;
constexpr uint8_t kFlagTail = 0x08;

struct ReceivedFile {
    bool announced = false;      // an information packet came first
    uint32_t announcedSize = 0;
    uint32_t announcedCrc = 0;
    Bytes data;
    bool sizeOk = false;         // data size equals the announced size
    bool crcOk = false;          // CRC-32 of the data equals the announced one
};

class FileAssembler {
public:
    // Takes one kind-1 packet (attribute low nibble = flags).
    void OnPacket(uint8_t flags, std::span<const uint8_t> payload);

    // Files whose tail has arrived, oldest first.
    const std::vector<ReceivedFile> &Finished() const { return finished_; }
    // The file being received, if any.
    const std::optional<ReceivedFile> &InProgress() const { return current_; }
    // Data packets that belonged to no file (no head or information before them).
    uint32_t StrayPackets() const { return stray_; }

private:
    std::vector<ReceivedFile> finished_;
    std::optional<ReceivedFile> current_;
    uint32_t stray_ = 0;
};

}  // namespace hostsim
