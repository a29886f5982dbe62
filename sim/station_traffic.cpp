#include "sim/station_traffic.h"

#include <algorithm>

#include "link/checksum.h"

namespace hostsim {

std::vector<DataPacketSpec> FilePackets(std::span<const uint8_t> content,
                                        const FileSendOptions &options) {
    std::vector<DataPacketSpec> packets;
    if (options.announce) {
        const uint32_t size = static_cast<uint32_t>(content.size()) + (options.wrongSize ? 1 : 0);
        const uint32_t crc =
            tevrolink::Crc32(content.data(), content.size()) ^ (options.wrongCrc ? 1u : 0u);
        DataPacketSpec info{kAttrFile | kFlagInfo, {}};
        AppendLe32(info.payload, size);
        AppendLe32(info.payload, crc);
        packets.push_back(std::move(info));
    }
    const std::size_t chunk = std::clamp<std::size_t>(options.chunk, 1, tevrolink::kFramePayload);
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(chunk, content.size() - at);
        uint8_t flags = at == 0 ? kFlagHead : 0;
        if (at + n >= content.size()) flags |= kFlagTail;
        packets.push_back(DataPacketSpec{static_cast<uint8_t>(kAttrFile | flags),
                                         Bytes(content.begin() + at, content.begin() + at + n)});
        at += n;
    } while (at < content.size());
    if (options.stopBeforeTail) packets.pop_back();
    return packets;
}

Bytes DebugLongPayload(const DebugEvent &e, uint8_t self, const StationTable &stations) {
    Bytes p(kDebugLongSize, 0);
    p[0] = e.r;
    p[1] = e.w;
    std::copy(e.raw.begin(), e.raw.end(), p.begin() + 2);
    p[10] = self;          // S-Host
    p[11] = e.stationA;    // S-Node
    p[12] = e.init;
    p[13] = e.counter;
    p[14] = self;          // the station whose events these are
    p[15] = e.tx;
    p[16] = e.rx;
    const Station &a = stations.At(e.stationA);
    p[17] = a.hostLqi;
    p[18] = a.hostRssi;
    p[19] = a.peerLqi;
    p[20] = a.peerRssi;
    std::size_t at = 21;
    for (const StationBitmap &map : {stations.ActiveMap(), stations.OnlineMap(),
                                     stations.LinkMap(), stations.SuspendedMap()}) {
        std::copy(map.begin(), map.end(), p.begin() + static_cast<std::ptrdiff_t>(at));
        at += map.size();
    }
    p[149] = e.mask & 0x0F;
    p[150] = e.pktId;
    p[151] = e.cmd;
    p[153] = e.stationB;
    p[154] = e.stationA;
    p[156] = static_cast<uint8_t>((e.suit & 0x3F) | (e.mode << 6));
    return p;
}

Bytes DebugShortPayload(const DebugEvent &e) {
    Bytes p(kDebugShortSize, 0);
    p[0] = e.mask & 0x0F;
    p[1] = e.pktId;
    p[2] = e.cmd;
    p[4] = e.stationB;
    p[5] = e.stationA;
    p[7] = static_cast<uint8_t>((e.suit & 0x3F) | (e.mode << 6));
    return p;
}

Bytes SignalPayload(uint8_t stateCode, uint8_t station, const Station &s) {
    // The PC shows offsets 6-5 (host and peer signal strength) and 4-3 (host and peer link
    // quality) as pairs, the same pairs a debug packet gives.
    return Bytes{stateCode, station, s.StateByte(), s.peerLqi, s.hostLqi, s.peerRssi, s.hostRssi};
}

}  // namespace hostsim
