// The output devices of one node (host or station): where the data it receives goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/wire.h"

namespace hostsim {

enum OutputDevice : uint8_t {
    kOutFlash = 0x01,
    kOutEeprom = 0x02,
    kOutUart0 = 0x24,
    kOutUart1 = 0x25,
    kOutLcd = 0x81,
    kOutDefault = 0xFF,
};

constexpr uint32_t kFlashCapacity = 1024 * 1024;
constexpr uint32_t kEepromCapacity = 32 * 1024;
constexpr uint32_t kLcdRows = 8;
constexpr uint32_t kLcdColumns = 32;
constexpr uint32_t kClearAll = 0xFFFFFFFFu;

class OutputDevices {
public:
    OutputDevices();

    // Directs received data to `device` from `start` on. False for an unknown device code
    // (the selection then stays as it was).
    bool Select(uint8_t device, uint32_t setting, uint32_t start);
    // Erases `size` units from `start` (kClearAll: the whole device). False if unknown.
    bool Clear(uint8_t device, uint32_t start, uint32_t size);
    // Writes at the selected device's position and advances it.
    void Write(std::span<const uint8_t> data);
    // Reads up to `count` bytes from the selected device's position and advances it; the
    // byte-stream devices (UARTs, FIFO) are consumed from their front.
    Bytes Read(std::size_t count);

    uint8_t Selected() const { return selected_; }
    uint32_t Setting() const { return setting_; }
    uint32_t Position() const { return position_; }

    // Contents: the memories (Flash, EEPROM) up to the furthest byte ever written, the byte
    // streams as logged, the LCD as rows joined by '\n'. Empty for an unknown code.
    Bytes Contents(uint8_t device) const;
    // `count` bytes of a memory from `start`; unwritten cells read 0xFF.
    Bytes Slice(uint8_t device, uint32_t start, std::size_t count) const;
    // Two figures the host reports for a device: capacity and use, in KiB for memories,
    // rows and columns for the LCD, bytes held (capped) for streams.
    std::pair<uint16_t, uint16_t> MediaInfo(uint8_t device) const;

private:
    static uint32_t Capacity(uint8_t device);
    Bytes *Stream(uint8_t device);
    Bytes *Memory(uint8_t device);

    Bytes flash_;   // grows as written, up to kFlashCapacity
    Bytes eeprom_;  // grows as written, up to kEepromCapacity
    Bytes uart0_, uart1_, fifo_;
    std::vector<std::string> lcd_;
    uint32_t flashUsed_ = 0;    // high-water mark of writes
    uint32_t eepromUsed_ = 0;
    uint8_t selected_ = kOutDefault;
    uint32_t setting_ = 0;
    uint32_t position_ = 0;
};

}  // namespace hostsim
