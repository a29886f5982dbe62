// What a received packet says, as named fields: one line for people, one JSON object
// for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/output.h"

namespace cli {

struct PacketField {
    std::string name;
    std::string text;
    bool number = false;  // `text` is a decimal number (a JSON number, not a string)
};

struct DecodedPacket {
    std::string type;  // "data", "status", "debug", "signal" or "other"
    std::vector<PacketField> fields;

    std::string Line() const;  // "data station=5 kind=file ..."
    Json ToJson() const;       // {"type":"data","station":5,...}
};

// Decodes the frame the last poll reported (the library's receive frame).
DecodedPacket DecodeReceivedPacket();

}  // namespace cli
