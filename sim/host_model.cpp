#include "sim/host_model.h"

namespace hostsim {
namespace {

constexpr uint8_t kCodeSelectOutput = 0x71;
constexpr uint8_t kCodeClearOutput = 0x06;
constexpr std::size_t kDeviceCommandPayload = 9;
constexpr uint8_t kKindFile = 1;
constexpr uint8_t kKindCommand = 2;

bool AnyActiveReachable(const StationTable &stations) {
    bool any = false;
    stations.ForEach([&](unsigned, const Station &s) { any = any || (s.active && !s.suspended); });
    return any;
}

}  // namespace

uint8_t HostModel::HostState() const {
    if (searching) return kHostSearching;
    if (!settings.dataMode) return kHostCommandMode;
    if (txBuffer.Fill() > 0) return kHostSending;
    // An activated but idle station is no connection yet: the PC waits for the idle state
    // before it starts a sending, and ends a finished one with StopHost.
    if (connected) return kHostConnected;
    return kHostDataIdle;
}

uint8_t HostModel::HostFlags() const {
    if (flagsOverride >= 0) return static_cast<uint8_t>(flagsOverride);
    if (settings.peer == 0) {
        // Broadcast: ready while some active station can hear it.
        return AnyActiveReachable(stations) ? kHostFlagReceiverActive : kHostFlagNeedsActivation;
    }
    const Station &peer = stations.At(settings.peer);
    if (peer.suspended) return kHostFlagReceiverActive | kHostFlagSuspended;
    if (peer.linked) return kHostFlagReceiverActive;
    return kHostFlagNeedsActivation;
}

void HostModel::Activate() {
    auto bringUp = [](Station &s) {
        if (!s.present || s.suspended || s.linked) return;
        if (s.activationsNeeded > 1) {
            --s.activationsNeeded;
            return;
        }
        s.activationsNeeded = 1;
        s.linked = true;
        s.online = true;
    };
    if (settings.peer != 0) {
        bringUp(stations.At(settings.peer));
        return;
    }
    stations.ForEach([&](unsigned, Station &s) {
        if (s.active) bringUp(s);
    });
}

void HostModel::Disconnect() {
    connected = false;
    stations.ForEach([](unsigned, Station &s) { s.linked = false; });
}

void HostModel::DeliverToStations(const QueuedPacket &packet) {
    if (packet.destination != 0) {
        Station &s = stations.At(packet.destination);
        if (s.Reachable()) DeliverToStation(s, packet.attribute, packet.payload);
        return;
    }
    stations.ForEach([&](unsigned, Station &s) {
        if (s.active && s.Reachable()) DeliverToStation(s, packet.attribute, packet.payload);
    });
}

void HostModel::DeliverToStation(Station &station, uint8_t attribute,
                                 std::span<const uint8_t> payload) {
    station.bytesReceived += payload.size();
    const uint8_t kind = attribute >> 4;
    const uint8_t flags = attribute & 0x0F;
    if (kind == kKindFile) {
        station.files.OnPacket(flags, payload);
        // File data (not the information record) also lands on the selected device, which
        // is how a file is written into a station's Flash.
        if (!(flags & kFlagInfo)) station.devices.Write(payload);
        return;
    }
    if (kind == kKindCommand) {
        // An embedded command is a whole link frame of its own.
        if (payload.size() < kPayload) return;
        const std::size_t n = payload[kLength];
        if (payload.size() < kPayload + n || !tevrolink::CheckLinkFrame(payload.data())) return;
        ApplyDeviceCommand(station.devices, payload[kCode], payload.subspan(kPayload, n));
    }
}

bool ApplyDeviceCommand(OutputDevices &devices, uint8_t code, std::span<const uint8_t> payload) {
    if (payload.size() < kDeviceCommandPayload) return false;
    const uint8_t device = payload[0];
    const uint32_t first = ReadLe32(payload.data() + 1);
    const uint32_t second = ReadLe32(payload.data() + 5);
    if (code == kCodeSelectOutput) return devices.Select(device, first, second);
    if (code == kCodeClearOutput) return devices.Clear(device, first, second);
    return false;
}

}  // namespace hostsim
