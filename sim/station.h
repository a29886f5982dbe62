// The stations of the radio network as the host node sees them.
#pragma once

#include <array>
#include <cstdint>

#include "sim/file_assembler.h"
#include "sim/output_devices.h"
#include "sim/wire.h"

namespace hostsim {

constexpr unsigned kFirstStation = 1;
constexpr unsigned kLastStation = 254;

// Station state byte as signal packets and node queries carry it.
constexpr uint8_t kStateActive = 0x80;
constexpr uint8_t kStateOnline = 0x40;
constexpr uint8_t kStateLink = 0x10;
constexpr uint8_t kStateSuspended = 0x04;

struct Station {
    bool present = false;    // exists within radio range (a search finds it)
    bool active = false;     // in the host's active list (broadcasts reach it)
    bool online = false;     // has answered the host
    bool linked = false;     // activated: the host holds a link to it
    bool suspended = false;  // failed and set aside until activated again
    // Activation requests still needed before the link comes up (a slow station needs
    // several, as a real one out of step does).
    uint32_t activationsNeeded = 1;
    // Link quality as signal and debug packets report it.
    uint8_t hostLqi = 0xA0, hostRssi = 0x50, peerLqi = 0x9C, peerRssi = 0x4E;

    OutputDevices devices;
    FileAssembler files;
    uint64_t bytesReceived = 0;  // stream payload bytes delivered to this station

    uint8_t StateByte() const {
        return static_cast<uint8_t>((active ? kStateActive : 0) | (online ? kStateOnline : 0) |
                                    (linked ? kStateLink : 0) |
                                    (suspended ? kStateSuspended : 0));
    }
    // Whether a packet sent to this station arrives.
    bool Reachable() const { return present && !suspended; }
};

class StationTable {
public:
    // Station 0 and 255 are not stations; asking for them yields a spare that is never
    // reported, so callers need not check every number they are handed.
    Station &At(unsigned n) { return n >= kFirstStation && n <= kLastStation ? table_[n] : spare_; }
    const Station &At(unsigned n) const {
        return n >= kFirstStation && n <= kLastStation ? table_[n] : spare_;
    }

    // The four bitmaps of the node-status reply, in this order.
    StationBitmap ActiveMap() const { return Map([](const Station &s) { return s.active; }); }
    StationBitmap OnlineMap() const { return Map([](const Station &s) { return s.online; }); }
    StationBitmap LinkMap() const { return Map([](const Station &s) { return s.linked; }); }
    StationBitmap SuspendedMap() const { return Map([](const Station &s) { return s.suspended; }); }

    template <typename Fn>
    void ForEach(Fn fn) {
        for (unsigned n = kFirstStation; n <= kLastStation; ++n) fn(n, table_[n]);
    }
    template <typename Fn>
    void ForEach(Fn fn) const {
        for (unsigned n = kFirstStation; n <= kLastStation; ++n) fn(n, table_[n]);
    }

private:
    template <typename Pred>
    StationBitmap Map(Pred pred) const {
        StationBitmap map{};
        for (unsigned n = kFirstStation; n <= kLastStation; ++n)
            if (pred(table_[n])) BitmapSet(map, n);
        return map;
    }

    std::array<Station, 256> table_{};
    Station spare_;
};

}  // namespace hostsim
