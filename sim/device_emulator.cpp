#include "sim/device_emulator.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace hostsim {
namespace {

// Answers go only to senders on loopback: in a test's private network every request comes
// from there, and whatever else reaches the port came from a real network that the
// emulation must never talk to.
bool OnLoopback(const sockaddr_in &address) {
    return (ntohl(address.sin_addr.s_addr) >> 24) == 127;
}

[[noreturn]] void Fail(int error, const std::string &what) {
    throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

DeviceEmulator::DeviceEmulator(std::vector<NetworkDevice> devices, const std::string &address,
                               uint16_t port)
    : devices_(std::move(devices)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        Fail(EINVAL, "bad address " + address);
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) Fail(errno, "socket");
    if (::bind(socket_, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(socket_);
        Fail(error, "binding the device port " + address + ":" + std::to_string(port));
    }
    socklen_t length = sizeof local;
    getsockname(socket_, reinterpret_cast<sockaddr *>(&local), &length);
    port_ = ntohs(local.sin_port);
    stop_ = eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
        const int error = errno;
        ::close(socket_);
        Fail(error, "eventfd");
    }
    thread_ = std::thread([this] { Run(); });
}

DeviceEmulator::~DeviceEmulator() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
    ::close(socket_);
}

void DeviceEmulator::Run() {
    pollfd watched[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0 && errno != EINTR) return;
        if (watched[1].revents) return;
        if (watched[0].revents & POLLIN) TakeIn();
    }
}

void DeviceEmulator::TakeIn() {
    for (;;) {
        uint8_t buffer[512];
        DeviceDatagram datagram;
        socklen_t fromLength = sizeof datagram.from;
        const ssize_t n = ::recvfrom(socket_, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr *>(&datagram.from), &fromLength);
        if (n < 0) return;
        datagram.bytes.assign(buffer, buffer + n);
        datagram.at = Clock::now();
        std::vector<Bytes> answers;
        {
            // Recorded before anything is answered: a test that has an answer in hand
            // finds its request in the record.
            std::lock_guard lock(mutex_);
            if (OnLoopback(datagram.from)) answers = devices_.OnDatagram(datagram.bytes);
            received_.push_back(datagram);
        }
        changed_.notify_all();
        for (const Bytes &answer : answers)
            ::sendto(socket_, answer.data(), answer.size(), 0,
                     reinterpret_cast<const sockaddr *>(&datagram.from), sizeof datagram.from);
    }
}

uint16_t DeviceEmulator::Port() const { return port_; }

std::size_t DeviceEmulator::Size() const {
    std::lock_guard lock(mutex_);
    return devices_.Size();
}

std::vector<DeviceEntry> DeviceEmulator::Entries() const {
    std::lock_guard lock(mutex_);
    std::vector<DeviceEntry> entries;
    for (std::size_t i = 0; i < devices_.Size(); ++i) entries.push_back(devices_.Device(i).entry);
    return entries;
}

DeviceLog DeviceEmulator::Log(std::size_t device) const {
    std::lock_guard lock(mutex_);
    return devices_.Log(device);
}

void DeviceEmulator::SetBehaviour(std::size_t device, const DeviceBehaviour &behaviour) {
    std::lock_guard lock(mutex_);
    devices_.Device(device).behaviour = behaviour;
}

std::vector<DeviceDatagram> DeviceEmulator::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool DeviceEmulator::WaitForReceived(std::size_t count, Millis timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

}  // namespace hostsim
