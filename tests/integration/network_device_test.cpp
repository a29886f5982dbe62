// hostsim's network-attached devices met through the library's search and update calls,
// on a segment of a private network namespace behind an adapter of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "sim/device_emulator.h"
#include "tests/support/private_network.h"
#include "tevrolink/tevrolink.h"

namespace {

using hostsim::DeviceEmulator;
using hostsim::NetworkDevice;

NetworkDevice Device(uint8_t last, hostsim::DeviceBehaviour behaviour = {}) {
    return {hostsim::MakeDeviceEntry({.address = "192.168.7." + std::to_string(last),
                                      .mask = "255.255.255.0",
                                      .gateway = "192.168.7.1",
                                      .centre = "192.168.7.100",
                                      .centrePort = 10086,
                                      .mac = {0x02, 0, 0, 0, 0, last},
                                      .description = "unit " + std::to_string(last)}),
            behaviour};
}

struct Datagram {
    int size = 0;
    LinkFrameRecord frame{};
};

// Every datagram that comes back to the shell until a read finds nothing.
std::vector<Datagram> ReadAll() {
    std::vector<Datagram> got;
    for (;;) {
        Datagram d;
        d.size = ReadSocketPacket(d.frame, sizeof d.frame);
        if (d.size <= 0) return got;
        got.push_back(d);
    }
}

DeviceEntry EntryOf(const Datagram &d) {
    DeviceEntry entry{};
    std::memcpy(&entry, d.frame + TEVROLINK_FRAME_HEADER, sizeof entry);
    return entry;
}

bool SameEntry(const DeviceEntry &a, const DeviceEntry &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class NetworkDevices : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << "no private network for broadcasts: " << why;
        segment_ = std::make_unique<testsupport::DeviceSegment>("pc0", 1);
        if (!segment_->Failure().empty()) GTEST_SKIP() << segment_->Failure();
    }
    void TearDown() override { CloseShell(); }

    std::unique_ptr<DeviceEmulator> OnSegment(std::vector<NetworkDevice> devices) {
        return segment_->MakeInside<DeviceEmulator>(std::move(devices), "0.0.0.0", DEVICE_PORT,
                                                    segment_->Subnet());
    }

    std::vector<Datagram> Search() {
        EXPECT_EQ(OpenNETShell(nullptr, "255.255.255.255", 0, DEVICE_PORT), 1);
        SendIPDeviceSearchRequest();
        std::vector<Datagram> answers = ReadAll();
        CloseShell();
        return answers;
    }

    std::vector<Datagram> Update(const DeviceEntry &entry) {
        UpdateNodeNetworkParameter(&entry);
        std::vector<Datagram> answers = ReadAll();
        CloseShell();
        return answers;
    }

    std::unique_ptr<testsupport::DeviceSegment> segment_;
};

TEST_F(NetworkDevices, SearchIsAnsweredInDeviceOrderAsEachDeviceIsToldTo) {
    const auto emulator = OnSegment({Device(1, {.answersPerSearch = 2}), Device(2, {.answerLength = 20}),
                                     Device(3, {.silent = true}), Device(4)});
    const DeviceEmulator &devices = *emulator;
    const std::vector<Datagram> answers = Search();

    ASSERT_EQ(answers.size(), 4u);
    const auto entries = devices.Entries();
    for (std::size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(answers[i].size, 74) << i;
        EXPECT_EQ(answers[i].frame[5], 66) << "length byte of " << i;
        EXPECT_EQ(IsValidIPAddrResponse(answers[i].frame), 1) << i;
    }
    EXPECT_TRUE(SameEntry(EntryOf(answers[0]), entries[0]));
    EXPECT_TRUE(SameEntry(EntryOf(answers[1]), entries[0])) << "the second answer repeats the first";
    EXPECT_TRUE(SameEntry(EntryOf(answers[3]), entries[3])) << "the silent device gave no answer";

    // The short answer is sealed over what it carries; the rest of the entry reads as zero.
    EXPECT_EQ(answers[2].size, 28);
    EXPECT_EQ(IsValidIPAddrResponse(answers[2].frame), 1);
    DeviceEntry cut = entries[1];
    std::memset(reinterpret_cast<uint8_t *>(&cut) + 20, 0, sizeof cut - 20);
    EXPECT_TRUE(SameEntry(EntryOf(answers[2]), cut));

    for (std::size_t i = 0; i < devices.Size(); ++i) EXPECT_EQ(devices.Log(i).searches, 1u) << i;
    const auto heard = devices.Received();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].bytes, (hostsim::Bytes{0xAA, 0x37, 0, 0, 0, 0, 0xCF, 0x8C}));
}

TEST_F(NetworkDevices, UpdateChangesOnlyTheDeviceItNamesAsThatDeviceIsToldTo) {
    const auto emulator = OnSegment({Device(1), Device(2), Device(3, {.confirmUpdates = false}),
                                     Device(4, {.silent = true})});
    const DeviceEmulator &devices = *emulator;
    const auto before = devices.Entries();

    DeviceEntry changed = before[1];
    changed.ipAddress[3] = 99;
    changed.autoDns = 1;
    const std::vector<Datagram> confirmation = Update(changed);
    ASSERT_EQ(confirmation.size(), 1u);
    EXPECT_EQ(confirmation[0].size, 74);
    EXPECT_EQ(confirmation[0].frame[1], hostsim::kCodeDeviceUpdated);
    EXPECT_TRUE(SameEntry(EntryOf(confirmation[0]), changed)) << "it confirms what it now holds";
    auto now = devices.Entries();
    EXPECT_TRUE(SameEntry(now[1], changed));
    EXPECT_TRUE(SameEntry(now[0], before[0]));
    ASSERT_EQ(devices.Log(1).updates.size(), 1u);
    EXPECT_EQ(devices.Log(1).updates[0].size(), 74u);
    EXPECT_TRUE(devices.Log(0).updates.empty()) << "an update names one device";

    DeviceEntry unconfirmed = before[2];
    unconfirmed.centrePort[1] = 7;
    EXPECT_TRUE(Update(unconfirmed).empty());
    EXPECT_TRUE(SameEntry(devices.Entries()[2], unconfirmed)) << "applied without a word";

    DeviceEntry ignored = before[3];
    ignored.gateway[3] = 254;
    EXPECT_TRUE(Update(ignored).empty());
    EXPECT_TRUE(SameEntry(devices.Entries()[3], before[3])) << "a silent device applies nothing";
    EXPECT_EQ(devices.Log(3).updates.size(), 1u) << "but it heard the update";

    DeviceEntry nobody = before[0];
    nobody.macAddress[5] = 0x77;
    EXPECT_TRUE(Update(nobody).empty());
    now = devices.Entries();
    for (std::size_t i = 0; i < now.size(); ++i) EXPECT_EQ(devices.Log(i).updates.size(), i == 0 ? 0u : 1u) << i;
}

// A socket on `address` (port chosen by the system) that talks to the devices directly.
class DirectSocket {
public:
    DirectSocket(const char *address, uint16_t devicePort) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        bound_ = bind(fd_, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0;
        to_.sin_family = AF_INET;
        to_.sin_port = htons(devicePort);
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~DirectSocket() { close(fd_); }
    bool Bound() const { return bound_; }
    void Send(const hostsim::Bytes &d) const {
        sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr *>(&to_), sizeof to_);
    }
    // The next datagram, waiting up to `ms`; empty when none came.
    hostsim::Bytes Receive(int ms) const {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return {};
        uint8_t buffer[256];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? hostsim::Bytes(buffer, buffer + n) : hostsim::Bytes{};
    }

private:
    int fd_ = -1;
    bool bound_ = false;
    sockaddr_in to_{};
};

const hostsim::Bytes kSearch = hostsim::BuildFrame(hostsim::kCodeDeviceSearch, 0, 0, 0);

// The devices take datagrams in order, so once the answer to a later good search is in,
// any answer to what went before would have come first.
TEST_F(NetworkDevices, DamagedRequestsAreRecordedButNotActedOn) {
    const DeviceEmulator devices({Device(1)}, "127.0.0.1", 0);
    const DirectSocket pc("127.0.0.1", devices.Port());
    ASSERT_TRUE(pc.Bound());
    hostsim::Bytes badCrc = kSearch;
    badCrc[7] ^= 0x01;
    const DeviceEntry entry = devices.Entries()[0];
    const hostsim::Bytes partial = hostsim::BuildFrame(
        hostsim::kCodeDeviceUpdate, 0, 0, 0, std::span(reinterpret_cast<const uint8_t *>(&entry), 40));
    pc.Send(badCrc);
    pc.Send(partial);
    pc.Send(kSearch);

    const hostsim::Bytes first = pc.Receive(3000);
    ASSERT_EQ(first.size(), 74u);
    EXPECT_EQ(first[1], hostsim::kCodeDeviceAnswer) << "the damaged requests were answered";
    EXPECT_EQ(devices.Received().size(), 3u);
    EXPECT_EQ(devices.Log(0).searches, 1u);
    EXPECT_TRUE(devices.Log(0).updates.empty()) << "an update must carry a whole entry";
}

// The devices answer only senders inside the private network they are told of (loopback
// unless told otherwise): any other sender may sit on a real network.
TEST_F(NetworkDevices, RequestsFromOutsideLoopbackAreNotAnswered) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq alias{};
    std::strcpy(alias.ifr_name, "lo:9");
    auto *address = reinterpret_cast<sockaddr_in *>(&alias.ifr_addr);
    address->sin_family = AF_INET;
    inet_pton(AF_INET, "10.200.0.1", &address->sin_addr);
    const bool aliased = ioctl(fd, SIOCSIFADDR, &alias) == 0;
    const int error = errno;
    close(fd);
    if (!aliased) GTEST_SKIP() << "cannot give loopback a second address: " << std::strerror(error);

    const DeviceEmulator devices({Device(1)}, "0.0.0.0", 0);
    const DirectSocket stranger("10.200.0.1", devices.Port());
    const DirectSocket pc("127.0.0.1", devices.Port());
    ASSERT_TRUE(stranger.Bound());
    stranger.Send(kSearch);
    pc.Send(kSearch);
    EXPECT_EQ(pc.Receive(3000).size(), 74u);
    EXPECT_TRUE(stranger.Receive(0).empty());
    EXPECT_EQ(devices.Received().size(), 2u) << "both were heard";
    EXPECT_EQ(devices.Log(0).searches, 1u);
}

}  // namespace
