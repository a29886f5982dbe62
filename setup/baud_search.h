// Finding the rate at which a serially attached host node answers, and changing it.
// Used by the serial set-up dialog and by the command line; both show the same lines.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace tevrolink {

// The rates searched, slowest first; also the rates that can be set.
constexpr std::array<uint32_t, 6> kSearchRates = {9600, 14400, 19200, 38400, 57600, 115200};

// Index of `baudRate` in kSearchRates; any rate not listed selects 19200.
int SearchRateIndex(uint32_t baudRate);

struct BaudSearchEvents {
    // A log line (UTF-8); `select` marks the lines a list shows as the current one.
    std::function<void(const std::string &line, bool select)> line;
    // The device answered at kSearchRates[index].
    std::function<void(int index)> found;
};

// Tries every rate on `port` in turn: open, ask for the firmware version, close, pause
// 100 ms. Ends at the first rate that answers (returned), at a port that cannot be opened,
// or after the last rate (0 for both). Leaves the link closed.
uint32_t SearchBaudRate(const std::string &port, const BaudSearchEvents &events);

enum class RateChange { PortNotOpened, Accepted, Refused };

// Opens `port` at the rate the device uses now and tells it to use `newRate` after its
// next restart. Leaves the link closed.
RateChange ChangeDeviceBaudRate(const std::string &port, uint32_t currentRate, uint32_t newRate);

}  // namespace tevrolink
