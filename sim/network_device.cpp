#include "sim/network_device.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace hostsim {
namespace {

std::span<const uint8_t> EntryBytes(const DeviceEntry &entry, std::size_t count) {
    return {reinterpret_cast<const uint8_t *>(&entry), std::min<std::size_t>(count, sizeof entry)};
}

void StoreAddress(const std::string &text, uint8_t (&out)[4]) {
    if (text.empty()) return;
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        throw std::invalid_argument("not an IPv4 address: " + text);
    std::memcpy(out, &address, sizeof out);  // network byte order, first octet first
}

}  // namespace

DeviceSet::DeviceSet(std::vector<NetworkDevice> devices)
    : devices_(std::move(devices)), logs_(devices_.size()) {}

std::vector<Bytes> DeviceSet::OnDatagram(std::span<const uint8_t> datagram) {
    std::vector<Bytes> answers;
    // A device acts only on a whole, sealed frame; anything else is noise on the port.
    if (datagram.size() < kPayload || datagram.size() < kPayload + datagram[kLength] ||
        !tevrolink::CheckLinkFrame(datagram.data()))
        return answers;
    if (datagram[kCode] == kCodeDeviceSearch) OnSearch(answers);
    if (datagram[kCode] == kCodeDeviceUpdate) OnUpdate(datagram, answers);
    return answers;
}

void DeviceSet::OnSearch(std::vector<Bytes> &answers) {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        ++logs_[i].searches;
        const NetworkDevice &device = devices_[i];
        if (device.behaviour.silent) continue;
        const auto payload = EntryBytes(device.entry, device.behaviour.answerLength);
        for (unsigned n = 0; n < device.behaviour.answersPerSearch; ++n)
            answers.push_back(BuildFrame(kCodeDeviceAnswer, 0, 0, 0, payload));
    }
}

void DeviceSet::OnUpdate(std::span<const uint8_t> datagram, std::vector<Bytes> &answers) {
    if (datagram[kLength] < kDeviceEntrySize) return;  // not a whole entry: nobody's update
    DeviceEntry update{};
    std::memcpy(&update, datagram.data() + kPayload, sizeof update);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        NetworkDevice &device = devices_[i];
        if (std::memcmp(device.entry.macAddress, update.macAddress, sizeof update.macAddress) != 0)
            continue;
        logs_[i].updates.emplace_back(datagram.begin(), datagram.end());
        if (device.behaviour.silent) continue;
        device.entry = update;
        if (device.behaviour.confirmUpdates)
            answers.push_back(
                BuildFrame(kCodeDeviceUpdated, 0, 0, 0, EntryBytes(device.entry, sizeof update)));
    }
}

DeviceEntry MakeDeviceEntry(const DeviceEntryFields &fields) {
    DeviceEntry entry{};
    StoreAddress(fields.address, entry.ipAddress);
    StoreAddress(fields.mask, entry.subnetMask);
    StoreAddress(fields.gateway, entry.gateway);
    StoreAddress(fields.primaryDns, entry.primaryDns);
    StoreAddress(fields.secondaryDns, entry.secondaryDns);
    StoreAddress(fields.centre, entry.centreAddress);
    std::copy(fields.mac.begin(), fields.mac.end(), entry.macAddress);
    StoreBe16(entry.centrePort, fields.centrePort);
    if (fields.description.size() > sizeof entry.description)
        throw std::invalid_argument("a description holds at most 32 bytes");
    std::memcpy(entry.description, fields.description.data(), fields.description.size());
    entry.autoAddress = fields.autoAddress ? 1 : 0;
    entry.autoDns = fields.autoDns ? 1 : 0;
    return entry;
}

}  // namespace hostsim
