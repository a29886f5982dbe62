// The parts of the test API that only forward to the node under the lock: sending on its
// behalf and reading or changing its state.
#include <arpa/inet.h>

#include <system_error>

#include "sim/host_sim.h"
#include "sim/status_report.h"
#include "sim/udp_endpoint.h"

namespace hostsim {

void HostSim::SetUdpPeer(const std::string &address, uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        throw std::system_error(EINVAL, std::generic_category(), "bad address " + address);
    std::lock_guard lock(mutex_);
    if (auto *udp = dynamic_cast<UdpEndpoint *>(endpoint_.get())) udp->SetPeer(peer);
}

void HostSim::SetBaud(uint32_t baud) {
    std::lock_guard lock(mutex_);
    if (auto *pty = dynamic_cast<PtyEndpoint *>(endpoint_.get())) pty->SetBaud(baud);
}

void HostSim::SendFrame(uint8_t code, uint8_t seq, uint8_t node, uint8_t attr,
                        std::span<const uint8_t> payload) {
    {
        std::lock_guard lock(mutex_);
        Transmit(BuildFrame(code, seq, node, attr, payload), false);
    }
    changed_.notify_all();
    WakeLoop();
}

void HostSim::SendRaw(const Bytes &bytes) {
    {
        std::lock_guard lock(mutex_);
        Capture(bytes, true);
        endpoint_->Send(bytes);
        Record(sent_, bytes, Fate::kPassed);
    }
    changed_.notify_all();
    WakeLoop();
}

void HostSim::SendStatus(uint8_t code, uint8_t seq) {
    With([&](HostNode &n) {
        Transmit(BuildFrame(code, seq, 0, 0, BuildStatusPayload(n.Model())), false);
    });
}

void HostSim::SendDataPacket(uint8_t station, uint8_t attribute,
                             std::span<const uint8_t> payload) {
    With([&](HostNode &n) { n.SendDataPacket(station, attribute, payload); });
}

void HostSim::StartSync() {
    With([](HostNode &n) { n.Link().StartSync(); });
}

void HostSim::SendFileFromStation(uint8_t station, std::span<const uint8_t> content,
                                  const FileSendOptions &options) {
    With([&](HostNode &n) { n.SendFileFromStation(station, content, options); });
}

void HostSim::SendDebug(bool longForm, const DebugEvent &event) {
    With([&](HostNode &n) { n.SendDebug(longForm, event); });
}

void HostSim::SendSignal(uint8_t stateCode, uint8_t station) {
    With([&](HostNode &n) { n.SendSignal(stateCode, station); });
}

void HostSim::StartSearch() {
    With([](HostNode &n) { n.StartSearch(Clock::now()); });
}

HostSettings HostSim::Settings() const {
    std::lock_guard lock(mutex_);
    return node_.Model().settings;
}

void HostSim::UpdateSettings(const std::function<void(HostSettings &)> &change) {
    With([&](HostNode &n) { change(n.Model().settings); });
}

void HostSim::AddStations(std::initializer_list<uint8_t> stations, bool active) {
    With([&](HostNode &n) {
        for (uint8_t s : stations) {
            Station &st = n.Model().stations.At(s);
            st.present = true;
            st.online = true;
            st.active = st.active || active;
        }
    });
}

void HostSim::AddDemoNetwork(unsigned count) {
    constexpr unsigned kFirst = 2, kSuspended = 4;
    With([&](HostNode &n) {
        for (unsigned s = kFirst; s < kFirst + count && s <= kLastStation; ++s) {
            Station &st = n.Model().stations.At(s);
            st.present = true;
            st.online = true;
            st.active = s <= kSuspended;
            st.suspended = s == kSuspended;
        }
    });
}

Station HostSim::StationState(uint8_t station) const {
    std::lock_guard lock(mutex_);
    return node_.Model().stations.At(station);
}

void HostSim::UpdateStation(uint8_t station, const std::function<void(Station &)> &change) {
    With([&](HostNode &n) { change(n.Model().stations.At(station)); });
}

std::vector<ReceivedFile> HostSim::ReceivedFiles(uint8_t station) const {
    std::lock_guard lock(mutex_);
    return node_.Model().stations.At(station).files.Finished();
}

Bytes HostSim::StationDevice(uint8_t station, uint8_t device) const {
    std::lock_guard lock(mutex_);
    return node_.Model().stations.At(station).devices.Contents(device);
}

Bytes HostSim::HostDevice(uint8_t device) const {
    std::lock_guard lock(mutex_);
    return node_.Model().devices.Contents(device);
}

void HostSim::SetDrainRate(uint32_t bytesPerSecond) {
    With([&](HostNode &n) { n.Model().txBuffer.SetDrainRate(bytesPerSecond); });
}

void HostSim::SetBufferSize(uint16_t size) {
    With([&](HostNode &n) { n.Model().txBuffer.SetSize(size); });
}

Bytes HostSim::StatusPayload() const {
    std::lock_guard lock(mutex_);
    return BuildStatusPayload(node_.Model());
}

LinkCounters HostSim::LinkStats() const {
    std::lock_guard lock(mutex_);
    return node_.Link().Counters();
}

NodeCounters HostSim::NodeStats() const {
    std::lock_guard lock(mutex_);
    return node_.Counters();
}

void HostSim::SetDemo(Millis period) {
    With([&](HostNode &n) { n.SetDemo(period, Clock::now()); });
}

void HostSim::SetDemoFiles(Millis period) {
    With([&](HostNode &n) { n.SetDemoFiles(period, Clock::now()); });
}

}  // namespace hostsim
