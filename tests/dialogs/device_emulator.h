// Network-attached host nodes as the set-up dialog meets them: one UDP socket on
// DEVICE_PORT that answers a search with every device's entry, in order (a device may
// answer more than once), and applies an update to the device whose MAC address it names,
// confirming it to the sender. Runs on its own thread; only for a private network.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tevrolink/tevrolink.h"

namespace dialogtest {

struct EmulatedDevice {
    DeviceEntry entry{};
    int answersPerSearch = 1;
};

class DeviceEmulator {
public:
    // Throws std::system_error when the port cannot be bound.
    explicit DeviceEmulator(std::vector<EmulatedDevice> devices);
    ~DeviceEmulator();
    DeviceEmulator(const DeviceEmulator &) = delete;
    DeviceEmulator &operator=(const DeviceEmulator &) = delete;

    std::vector<DeviceEntry> Entries() const;
    std::size_t SearchesSeen() const;
    // Every update datagram as it arrived, whether or not it named a device.
    std::vector<std::vector<uint8_t>> Updates() const;

private:
    void Run();
    void TakeIn(const uint8_t *datagram, std::size_t size, const void *sender,
                unsigned senderSize);

    mutable std::mutex mutex_;
    std::vector<EmulatedDevice> devices_;
    std::vector<std::vector<uint8_t>> updates_;
    std::size_t searches_ = 0;
    int socket_ = -1;
    int stop_ = -1;
    std::thread thread_;
};

// An entry for tests; addresses as dotted text.
DeviceEntry MakeEntry(const char *address, const char *mask, const char *gateway,
                      uint8_t macLastByte, const char *centre, uint16_t centrePort,
                      const char *description);

}  // namespace dialogtest
