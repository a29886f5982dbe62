// The host node's settings as one value, read with one request each: what the command-line
// client shows and compares, and what the unattended manager's check prints.
#pragma once

#include <cstdint>
#include <string>

namespace meradon {

struct HostSettings {
    uint8_t station = 0;
    bool master = false;
    uint8_t peer = 0;  // 0 = broadcast
    uint8_t freq1 = 0, freq2 = 0;
    uint8_t power = 0;  // level 0-7
    bool retransmission = false;
    std::string firmware;  // UTF-8
};

// Reads them all on the open link. False when a request got no answer; `failed` then names
// it ("the request for its peer station").
bool ReadHostSettings(HostSettings &settings, std::string &failed);

}  // namespace meradon
