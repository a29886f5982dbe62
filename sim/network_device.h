// Network-attached host nodes as the PC's set-up tools meet them on DEVICE_PORT: each holds
// its configuration entry, answers a search with it and takes an update that names its MAC
// address. No sockets here: a datagram goes in, the answers to its sender come out (the
// DeviceEmulator puts this on a socket).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/wire.h"
#include "tevrolink/tevrolink.h"

namespace hostsim {

constexpr uint8_t kCodeDeviceSearch = 0x37;
constexpr uint8_t kCodeDeviceAnswer = 0xB7;
constexpr uint8_t kCodeDeviceUpdate = 0x36;
// The PC takes any datagram after an update as its confirmation; our devices send this
// code with the entry they now hold, so a test can see what was applied.
constexpr uint8_t kCodeDeviceUpdated = 0xB6;
constexpr uint8_t kDeviceEntrySize = sizeof(DeviceEntry);
static_assert(kDeviceEntrySize == 66, "DeviceEntry travels as 66 bytes without padding");

// How one device behaves besides what it holds.
struct DeviceBehaviour {
    unsigned answersPerSearch = 1;  // 2: answers every search twice; 0: never answers one
    // Bytes of the entry that an answer carries; fewer than 66 make a short datagram
    // whose length byte and CRC cover only those bytes.
    uint8_t answerLength = kDeviceEntrySize;
    bool confirmUpdates = true;  // false: applies an update without confirming it
    bool silent = false;         // switched off: hears everything, acts on nothing
};

struct NetworkDevice {
    DeviceEntry entry{};
    DeviceBehaviour behaviour;
};

// What one device heard that concerned it: every search, and the updates naming its MAC.
struct DeviceLog {
    std::size_t searches = 0;
    std::vector<Bytes> updates;
};

class DeviceSet {
public:
    explicit DeviceSet(std::vector<NetworkDevice> devices);

    // Takes one datagram and returns the answers for its sender, in the devices' order
    // (a device that answers twice does so before the next device answers).
    std::vector<Bytes> OnDatagram(std::span<const uint8_t> datagram);

    std::size_t Size() const { return devices_.size(); }
    const NetworkDevice &Device(std::size_t index) const { return devices_.at(index); }
    NetworkDevice &Device(std::size_t index) { return devices_.at(index); }
    const DeviceLog &Log(std::size_t index) const { return logs_.at(index); }

private:
    void OnSearch(std::vector<Bytes> &answers);
    void OnUpdate(std::span<const uint8_t> datagram, std::vector<Bytes> &answers);

    std::vector<NetworkDevice> devices_;
    std::vector<DeviceLog> logs_;
};

// A device's configuration as text, turned into its entry by MakeDeviceEntry. Addresses
// are dotted quads (empty: 0.0.0.0); the description is taken as the bytes devices hold
// (GBK) and may fill all 32 bytes, leaving no terminator.
struct DeviceEntryFields {
    // Every member has an initialiser, so that a designated initialiser may leave any out.
    std::string address{}, mask{}, gateway{}, primaryDns{}, secondaryDns{}, centre{};
    uint16_t centrePort = 0;
    std::array<uint8_t, 6> mac{};
    std::string description{};
    bool autoAddress = false;
    bool autoDns = false;
};

// Throws std::invalid_argument naming an address that is not a dotted quad, or a
// description longer than 32 bytes.
DeviceEntry MakeDeviceEntry(const DeviceEntryFields &fields);

}  // namespace hostsim
