// Network-attached host nodes on a UDP socket, in their own thread: every datagram to the
// device port is recorded, handed to the devices, and their answers go back to the
// address and port it came from. Meant for a private network namespace made by a test,
// where a broadcast reaches the socket through an adapter of that network.
#pragma once

#include <netinet/in.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/network_device.h"

namespace hostsim {

struct DeviceDatagram {
    Bytes bytes;
    sockaddr_in from{};
    Clock::time_point at;
};

class DeviceEmulator {
public:
    // Binds `address`:`port` (port 0 picks a free one). The wildcard address is what
    // hears broadcasts. Only senders inside `answerTo` ("10.1.0.0/24") are answered: the
    // private network the emulator runs in, never a real one. Throws std::system_error
    // when the port cannot be bound, std::invalid_argument for a bad address or subnet.
    explicit DeviceEmulator(std::vector<NetworkDevice> devices,
                            const std::string &address = "0.0.0.0",
                            uint16_t port = DEVICE_PORT,
                            const std::string &answerTo = "127.0.0.0/8");
    ~DeviceEmulator();  // stops the thread and joins it
    DeviceEmulator(const DeviceEmulator &) = delete;
    DeviceEmulator &operator=(const DeviceEmulator &) = delete;

    uint16_t Port() const;
    std::size_t Size() const;
    // The entries as the devices hold them now, in the devices' order.
    std::vector<DeviceEntry> Entries() const;
    DeviceLog Log(std::size_t device) const;
    void SetBehaviour(std::size_t device, const DeviceBehaviour &behaviour);
    // Every datagram that reached the port, in arrival order.
    std::vector<DeviceDatagram> Received() const;
    // Waits until at least `count` datagrams have arrived; false on time-out.
    bool WaitForReceived(std::size_t count, Millis timeout) const;

private:
    void Run();
    void TakeIn();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    DeviceSet devices_;
    std::vector<DeviceDatagram> received_;
    uint32_t answerNet_ = 0, answerMask_ = 0;  // host byte order
    int socket_ = -1;
    int stop_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace hostsim
