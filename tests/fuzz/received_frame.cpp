#include "tests/fuzz/received_frame.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "tests/fuzz/fuzz_input.h"
#include "tevrolink/tevrolink.h"

namespace fuzz {

void ReadReportedFrame() {
    // A heap record of exactly one frame, so that a read past its end is caught.
    const auto record = std::make_unique<uint8_t[]>(TEVROLINK_FRAME_SIZE);
    CopyShell(record.get());
    uint8_t kind = 0;

    if (IsValidDataPacket(record.get(), &kind)) {
        IsDataPacketHead(record.get());
        IsDataPacketTail(record.get());
        IsDataPacketInfo(record.get());
        uint8_t station = 0, length = 0;
        const uint8_t *payload = GetDataPacketProfile(record.get(), &station, &length);
        // The length byte may claim up to 255; a record holds 240, as readers know.
        TouchBytes(payload, std::min<std::size_t>(length, TEVROLINK_FRAME_PAYLOAD));
    }

    uint8_t profile[32];
    if (IsValidStatusPacket(nullptr, &kind)) GetStatusPacketProfile(profile);

    if (IsValidDebugPacket(&kind)) {
        uint8_t event = 0;
        // The debug profile lies in the receive frame itself, which holds a whole
        // received payload.
        TouchBytes(GetDebugPacketProfile(&event), 255);
    }

    if (IsValidSignalPacket(record.get())) {
        const uint8_t *signal = GetSignalPacketProfile(record.get());
        TouchBytes(signal, TEVROLINK_FRAME_PAYLOAD);
    }
}

}  // namespace fuzz
