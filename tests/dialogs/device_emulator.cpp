#include "tests/dialogs/device_emulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <system_error>

#include "link/frame.h"

namespace dialogtest {
namespace {

constexpr uint8_t kSearch = 0x37;
constexpr uint8_t kUpdate = 0x36;
constexpr uint8_t kAnswer = 0xB7;
constexpr uint8_t kUpdateConfirmed = 0xB6;

std::vector<uint8_t> Frame(uint8_t code, const DeviceEntry *entry) {
    std::vector<uint8_t> frame(tevrolink::kFrameSize, 0);
    frame[tevrolink::kCode] = code;
    if (entry) {
        frame[tevrolink::kLength] = sizeof *entry;
        std::memcpy(frame.data() + tevrolink::kPayload, entry, sizeof *entry);
    }
    tevrolink::SealLinkFrame(frame.data());
    frame.resize(tevrolink::FrameWireSize(frame.data()));
    return frame;
}

void Address(const char *text, uint8_t (&bytes)[4]) {
    const in_addr_t address = inet_addr(text);
    std::memcpy(bytes, &address, 4);
}

}  // namespace

DeviceEntry MakeEntry(const char *address, const char *mask, const char *gateway,
                      uint8_t macLastByte, const char *centre, uint16_t centrePort,
                      const char *description) {
    DeviceEntry entry{};
    Address(address, entry.ipAddress);
    Address(mask, entry.subnetMask);
    Address(gateway, entry.gateway);
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, macLastByte};
    std::memcpy(entry.macAddress, mac, sizeof mac);
    Address("8.8.8.8", entry.primaryDns);
    Address("8.8.4.4", entry.secondaryDns);
    Address(centre, entry.centreAddress);
    entry.centrePort[0] = static_cast<uint8_t>(centrePort >> 8);
    entry.centrePort[1] = static_cast<uint8_t>(centrePort);
    // A description may fill all 32 bytes with no terminator, as devices send it.
    std::memcpy(entry.description, description,
                std::min(std::strlen(description), sizeof entry.description));
    return entry;
}

DeviceEmulator::DeviceEmulator(std::vector<EmulatedDevice> devices)
    : devices_(std::move(devices)) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(DEVICE_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const int error = errno;
        if (socket_ >= 0) close(socket_);
        throw std::system_error(error, std::generic_category(), "binding the device port");
    }
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

DeviceEmulator::~DeviceEmulator() {
    const uint64_t one = 1;
    if (write(stop_, &one, sizeof one) < 0) std::terminate();
    thread_.join();
    close(stop_);
    close(socket_);
}

std::vector<DeviceEntry> DeviceEmulator::Entries() const {
    std::lock_guard lock(mutex_);
    std::vector<DeviceEntry> entries;
    for (const EmulatedDevice &device : devices_) entries.push_back(device.entry);
    return entries;
}

std::size_t DeviceEmulator::SearchesSeen() const {
    std::lock_guard lock(mutex_);
    return searches_;
}

std::vector<std::vector<uint8_t>> DeviceEmulator::Updates() const {
    std::lock_guard lock(mutex_);
    return updates_;
}

void DeviceEmulator::Run() {
    pollfd watched[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0 && errno != EINTR) return;
        if (watched[1].revents) return;
        if (!(watched[0].revents & POLLIN)) continue;
        uint8_t datagram[tevrolink::kFrameSize] = {};
        sockaddr_in sender{};
        socklen_t senderSize = sizeof sender;
        const ssize_t n = recvfrom(socket_, datagram, sizeof datagram, 0,
                                   reinterpret_cast<sockaddr *>(&sender), &senderSize);
        if (n > 0) TakeIn(datagram, static_cast<std::size_t>(n), &sender, senderSize);
    }
}

void DeviceEmulator::TakeIn(const uint8_t *datagram, std::size_t size, const void *sender,
                            unsigned senderSize) {
    std::vector<std::vector<uint8_t>> replies;
    {
        std::lock_guard lock(mutex_);
        if (size < tevrolink::kFrameHeader || !tevrolink::CheckLinkFrame(datagram)) return;
        if (datagram[tevrolink::kCode] == kSearch) {
            ++searches_;
            for (const EmulatedDevice &device : devices_)
                for (int i = 0; i < device.answersPerSearch; ++i)
                    replies.push_back(Frame(kAnswer, &device.entry));
        } else if (datagram[tevrolink::kCode] == kUpdate) {
            updates_.emplace_back(datagram, datagram + size);
            DeviceEntry update{};
            std::memcpy(&update, datagram + tevrolink::kPayload,
                        std::min(sizeof update, size - tevrolink::kFrameHeader));
            for (EmulatedDevice &device : devices_) {
                if (std::memcmp(device.entry.macAddress, update.macAddress, 6) != 0) continue;
                device.entry = update;
                replies.push_back(Frame(kUpdateConfirmed, nullptr));
            }
        }
    }
    for (const auto &reply : replies)
        sendto(socket_, reply.data(), reply.size(), 0, static_cast<const sockaddr *>(sender),
               senderSize);
}

}  // namespace dialogtest
