#include "sim/command_handlers.h"

#include <algorithm>
#include <map>

namespace hostsim {
namespace {

using Handler = std::optional<Bytes> (*)(HostModel &, std::span<const uint8_t>, CommandEffects &);

uint8_t Arg(std::span<const uint8_t> p, std::size_t i = 0) { return i < p.size() ? p[i] : 0; }

Bytes One(uint8_t v) { return Bytes{v}; }

Bytes MapBytes(const StationBitmap &map) { return Bytes(map.begin(), map.end()); }

// Applies `fn` to every station whose bit is set in the request's bitmap.
template <typename Fn>
void ForListed(HostModel &m, std::span<const uint8_t> p, Fn fn) {
    StationBitmap map{};
    std::copy_n(p.begin(), std::min(p.size(), map.size()), map.begin());
    for (unsigned n = kFirstStation; n <= kLastStation; ++n)
        if (BitmapHas(map, n)) fn(m.stations.At(n));
}

// A frequency point outside 0-16 is refused; the reply names the point in force.
std::optional<Bytes> SetPoint(uint8_t &point, std::span<const uint8_t> p) {
    if (Arg(p) <= kHighestPoint) point = Arg(p);
    return One(point);
}

const std::map<uint8_t, Handler> &Table() {
    static const std::map<uint8_t, Handler> table = {
        {kCmdClearOutput, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             return std::optional<Bytes>(
                 One(ApplyDeviceCommand(m.devices, kCmdClearOutput, p) ? 1 : 0));
         }},
        {kCmdSelectOutput, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             return std::optional<Bytes>(
                 One(ApplyDeviceCommand(m.devices, kCmdSelectOutput, p) ? 1 : 0));
         }},
        {kCmdMediaInfo, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             const auto [first, second] = m.devices.MediaInfo(Arg(p));
             return std::optional<Bytes>(Bytes{static_cast<uint8_t>(first & 0xFF),
                                               static_cast<uint8_t>(first >> 8),
                                               static_cast<uint8_t>(second & 0xFF),
                                               static_cast<uint8_t>(second >> 8)});
         }},
        {kCmdSetPointX1, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             return SetPoint(m.settings.pointX1, p);
         }},
        {kCmdGetPointX1, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(One(m.settings.pointX1));
         }},
        {kCmdSetPointX2, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             return SetPoint(m.settings.pointX2, p);
         }},
        {kCmdGetPointX2, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(One(m.settings.pointX2));
         }},
        {kCmdSetNodeId, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             const uint8_t id = Arg(p);
             if (id >= kFirstStation && id <= kLastStation) m.settings.nodeId = id;
             return std::optional<Bytes>(One(m.settings.nodeId));
         }},
        {kCmdGetNodeId, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(
                 Bytes{m.settings.nodeId, static_cast<uint8_t>(m.settings.master ? 1 : 0)});
         }},
        {kCmdSetActive, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             // Listing a station again is how a suspended one is taken back.
             ForListed(m, p, [](Station &s) {
                 s.active = true;
                 s.suspended = false;
             });
             return std::optional<Bytes>(MapBytes(m.stations.ActiveMap()));
         }},
        {kCmdSetInactive, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             ForListed(m, p, [](Station &s) { s.active = false; });
             return std::optional<Bytes>(MapBytes(m.stations.ActiveMap()));
         }},
        {kCmdActiveList, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(MapBytes(m.stations.ActiveMap()));
         }},
        {kCmdNetworkStatus, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             Bytes out;
             for (const StationBitmap &map : {m.stations.ActiveMap(), m.stations.OnlineMap(),
                                              m.stations.LinkMap(), m.stations.SuspendedMap()})
                 out.insert(out.end(), map.begin(), map.end());
             return std::optional<Bytes>(out);
         }},
        {kCmdSetPeer, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             if (Arg(p) <= kLastStation) m.settings.peer = Arg(p);
             return std::optional<Bytes>(One(m.settings.peer));
         }},
        {kCmdGetPeer, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(One(m.settings.peer));
         }},
        {kCmdStopHost, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             m.Disconnect();
             return std::optional<Bytes>();  // the PC does not wait for an answer
         }},
        {kCmdQueryNode, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             const Station &s = m.stations.At(Arg(p));
             return std::optional<Bytes>(Bytes{s.present ? s.StateByte() : uint8_t{0}, Arg(p)});
         }},
        {kCmdSetClock, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             for (std::size_t i = 0; i < m.settings.clock.size(); ++i)
                 m.settings.clock[i] = Arg(p, i);
             return std::optional<Bytes>(Bytes(m.settings.clock.begin(), m.settings.clock.end()));
         }},
        {kCmdMonitor, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             m.settings.monitor = Arg(p) != 0;
             return std::optional<Bytes>(One(Arg(p)));
         }},
        {kCmdNetCenter, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             // 1 asks for command set mode, 0 for data transfer mode.
             m.settings.dataMode = Arg(p) == 0;
             if (m.settings.dataMode) {
                 m.Activate();
             } else {
                 m.connected = false;
             }
             return std::optional<Bytes>(One(Arg(p)));
         }},
        {kCmdSetHandShake, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             m.settings.handShake = Arg(p) != 0;
             return std::optional<Bytes>(One(m.settings.handShake ? 1 : 0));
         }},
        {kCmdGetHandShake, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(One(m.settings.handShake ? 1 : 0));
         }},
        {kCmdSetBaud, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             m.settings.baudCode = Arg(p);
             return std::optional<Bytes>(One(m.settings.baudCode));
         }},
        {kCmdSearch, [](HostModel &, std::span<const uint8_t> p, CommandEffects &e) {
             (Arg(p) ? e.startSearch : e.stopSearch) = true;
             return std::optional<Bytes>(One(Arg(p) ? 1 : 0));
         }},
        {kCmdSetPower, [](HostModel &m, std::span<const uint8_t> p, CommandEffects &) {
             m.settings.power = Arg(p) & 7;
             return std::optional<Bytes>(One(m.settings.power));
         }},
        {kCmdGetPower, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             return std::optional<Bytes>(One(m.settings.power));
         }},
        {kCmdFirmware, [](HostModel &m, std::span<const uint8_t>, CommandEffects &) {
             const Bytes &text = m.settings.firmware;
             return std::optional<Bytes>(
                 Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                                        text.size(), tevrolink::kFramePayload))));
         }},
    };
    return table;
}

}  // namespace

bool IsCommand(uint8_t code) { return Table().count(code) != 0; }

std::optional<CommandReply> HandleCommand(HostModel &model, const Bytes &frame,
                                          CommandEffects &effects) {
    const auto it = Table().find(frame[kCode]);
    if (it == Table().end()) return std::nullopt;
    std::optional<Bytes> payload = it->second(model, PayloadOf(frame), effects);
    if (!payload) return std::nullopt;
    return CommandReply{static_cast<uint8_t>(frame[kCode] + kReplyBit), std::move(*payload)};
}

}  // namespace hostsim
