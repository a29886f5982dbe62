#include "sim/device_emulator.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <tuple>

namespace hostsim {
namespace {

[[noreturn]] void Fail(int error, const std::string &what) {
    throw std::system_error(error, std::generic_category(), what);
}

// "10.1.0.0/24" as network and mask, host byte order.
std::pair<uint32_t, uint32_t> ParseSubnet(const std::string &subnet) {
    const std::size_t slash = subnet.find('/');
    in_addr network{};
    const int bits = slash == std::string::npos ? -1 : std::atoi(subnet.c_str() + slash + 1);
    if (bits < 1 || bits > 32 || inet_pton(AF_INET, subnet.substr(0, slash).c_str(), &network) != 1)
        throw std::invalid_argument("bad subnet " + subnet);
    const uint32_t mask = ~uint32_t{0} << (32 - bits);
    return {ntohl(network.s_addr) & mask, mask};
}

}  // namespace

DeviceEmulator::DeviceEmulator(std::vector<NetworkDevice> devices, const std::string &address,
                               uint16_t port, const std::string &answerTo)
    : devices_(std::move(devices)) {
    std::tie(answerNet_, answerMask_) = ParseSubnet(answerTo);
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
            // finds its request in the record. Whatever comes from outside the private
            // network came from a real one that the emulation must never talk to.
            std::lock_guard lock(mutex_);
            if ((ntohl(datagram.from.sin_addr.s_addr) & answerMask_) == answerNet_)
                answers = devices_.OnDatagram(datagram.bytes);
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
