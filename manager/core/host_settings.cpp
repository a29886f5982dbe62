#include "manager/core/host_settings.h"

#include "setup/text_encoding.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

bool ReadHostSettings(HostSettings &s, std::string &failed) {
    auto answered = [&failed](int result, const char *request) {
        if (result != 1) failed = request;
        return result == 1;
    };
    uint8_t role = 0, retransmission = 0;
    uint8_t version[TEVROLINK_FRAME_PAYLOAD + 1] = {};
    const bool all = answered(GetHostNodeID(&s.station, &role), "the request for its station number") &&
                     answered(GetPeerNodeID(&s.peer), "the request for its peer station") &&
                     answered(GetFrequencyPointX1(&s.freq1), "the request for its first frequency point") &&
                     answered(GetFrequencyPointX2(&s.freq2), "the request for its second frequency point") &&
                     answered(GetWirelessPower(&s.power), "the request for its transmit power") &&
                     answered(GetShellHandShake(&retransmission), "the request for its retransmission setting") &&
                     answered(GetFirmwareVersion(version, TEVROLINK_FRAME_PAYLOAD),
                              "the request for its firmware version");
    if (!all) return false;
    s.master = role != 0;
    s.retransmission = retransmission != 0;
    s.firmware = tevrolink::GbkToUtf8(reinterpret_cast<const char *>(version));
    return true;
}

}  // namespace meradon
