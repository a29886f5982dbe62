// Finding network-attached host nodes and changing their configuration, inside a private
// network namespace so that no broadcast leaves this test. The devices sit on segments
// behind adapters of that network: statically addressed, and without a default route
// unless a test adds one.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

#include "link/shell.h"
#include "sim/device_emulator.h"
#include "tests/support/private_network.h"
#include "tevrolink/tevrolink.h"

namespace {

using namespace std::chrono_literals;
using hostsim::Bytes;

hostsim::NetworkDevice Device(const char *address, uint8_t macTail, const char *description) {
    hostsim::NetworkDevice d;
    d.entry = hostsim::MakeDeviceEntry({.address = address, .mask = "255.255.255.0",
                                         .gateway = "10.9.8.1", .centre = "10.9.8.100",
                                         .centrePort = 10086,
                                         .mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, macTail},
                                         .description = description});
    return d;
}

class Discovery : public testing::Test {
protected:
    void SetUp() override {
        if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << "no private network namespace: " << why;
        segment_ = std::make_unique<testsupport::DeviceSegment>("pc0", 1);
        if (!segment_->Failure().empty()) GTEST_SKIP() << segment_->Failure();
    }
    void TearDown() override { CloseShell(); }

    static std::unique_ptr<hostsim::DeviceEmulator> Start(const testsupport::DeviceSegment &segment,
                                                          std::vector<hostsim::NetworkDevice> devices) {
        return segment.MakeInside<hostsim::DeviceEmulator>(std::move(devices), "0.0.0.0", DEVICE_PORT,
                                                           segment.Subnet());
    }
    hostsim::DeviceEmulator &Start(std::vector<hostsim::NetworkDevice> devices) {
        emulator_ = Start(*segment_, std::move(devices));
        return *emulator_;
    }

    // A search as the set-up tools run it: every valid answer's entry, in arrival order.
    std::vector<DeviceEntry> Search() {
        EXPECT_EQ(OpenNETShell(nullptr, "255.255.255.255", 0, DEVICE_PORT), 1);
        EXPECT_EQ(SendIPDeviceSearchRequest(), 1);
        std::vector<DeviceEntry> found;
        uint8_t record[TEVROLINK_FRAME_SIZE];
        while (ReadSocketPacket(record, sizeof record) > 0) {
            if (!IsValidIPAddrResponse(record)) continue;
            DeviceEntry e;
            std::memcpy(&e, record + TEVROLINK_FRAME_HEADER, sizeof e);
            found.push_back(e);
        }
        CloseShell();
        return found;
    }

    std::unique_ptr<testsupport::DeviceSegment> segment_;
    std::unique_ptr<hostsim::DeviceEmulator> emulator_;
};

TEST_F(Discovery, SearchRequestIsEightBytesAndAnswersComeInOrderDuplicatesKept) {
    std::vector<hostsim::NetworkDevice> devices = {Device("10.9.8.20", 0x20, "first"),
                                                   Device("10.9.8.21", 0x21, "second")};
    devices[1].behaviour.answersPerSearch = 2;
    hostsim::DeviceEmulator &emulator = Start(devices);
    const auto found = Search();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(std::memcmp(&found[0], &devices[0].entry, sizeof(DeviceEntry)), 0);
    EXPECT_EQ(std::memcmp(&found[1], &devices[1].entry, sizeof(DeviceEntry)), 0);
    EXPECT_EQ(std::memcmp(&found[2], &devices[1].entry, sizeof(DeviceEntry)), 0);
    const auto heard = emulator.Received();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].bytes, (Bytes{0xAA, 0x37, 0, 0, 0, 0, 0xCF, 0x8C}));
}

TEST_F(Discovery, ShortAnswerIsAcceptedWithTheMissingBytesZero) {
    std::vector<hostsim::NetworkDevice> devices = {Device("10.9.8.30", 0x30, "short one")};
    devices[0].behaviour.answerLength = 40;
    Start(devices);
    const auto found = Search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::memcmp(&found[0], &devices[0].entry, 40), 0);
    const uint8_t *rest = reinterpret_cast<const uint8_t *>(&found[0]) + 40;
    EXPECT_TRUE(std::all_of(rest, rest + 26, [](uint8_t b) { return b == 0; }));
}

TEST_F(Discovery, NoAnswerEndsTheReadAfterAboutTwoHundredMilliseconds) {
    std::vector<hostsim::NetworkDevice> devices = {Device("10.9.8.40", 0x40, "mute")};
    devices[0].behaviour.silent = true;
    Start(devices);
    ASSERT_EQ(OpenNETShell(nullptr, "255.255.255.255", 0, DEVICE_PORT), 1);
    SendIPDeviceSearchRequest();
    uint8_t record[TEVROLINK_FRAME_SIZE];
    std::memset(record, 0x55, sizeof record);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadSocketPacket(record, sizeof record), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 180ms);
    EXPECT_LT(took, 1000ms);
    EXPECT_TRUE(std::all_of(record, record + sizeof record, [](uint8_t b) { return b == 0; }));
}

TEST_F(Discovery, UpdateNamesTheDeviceByMacAndTheAnswerBecomesThePeer) {
    std::vector<hostsim::NetworkDevice> devices = {Device("10.9.8.50", 0x50, "a"),
                                                   Device("10.9.8.51", 0x51, "b")};
    hostsim::DeviceEmulator &emulator = Start(devices);
    DeviceEntry change = devices[1].entry;
    const uint8_t newAddress[4] = {10, 9, 8, 77};
    std::memcpy(change.ipAddress, newAddress, 4);
    EXPECT_EQ(UpdateNodeNetworkParameter(&change), 1);
    uint8_t record[TEVROLINK_FRAME_SIZE];
    EXPECT_GT(ReadSocketPacket(record, sizeof record), 0) << "the device confirms";
    // The sender of the confirmation is now the peer: the far end, the device port.
    const sockaddr_in &peer = tevrolink::TheShell().port.peerAddress;
    EXPECT_EQ(peer.sin_addr.s_addr, inet_addr("10.1.0.2"));
    EXPECT_EQ(ntohs(peer.sin_port), DEVICE_PORT);
    CloseShell();

    const auto heard = emulator.Received();
    ASSERT_EQ(heard.size(), 1u);
    ASSERT_EQ(heard[0].bytes.size(), 74u);
    EXPECT_EQ(heard[0].bytes[5], 0x42);
    EXPECT_EQ(std::memcmp(heard[0].bytes.data() + 8, &change, 66), 0);
    EXPECT_EQ(std::memcmp(emulator.Entries()[1].ipAddress, newAddress, 4), 0);
    EXPECT_EQ(std::memcmp(&emulator.Entries()[0], &devices[0].entry, 66), 0) << "only the named MAC";

    // Another device's address replaces only the address of the peer.
    ASSERT_EQ(OpenNETShell(nullptr, "255.255.255.255", 0, DEVICE_PORT), 1);
    EXPECT_EQ(SetNodeIPAddress("10.9.8.50"), 1);
    EXPECT_EQ(tevrolink::TheShell().port.peerAddress.sin_addr.s_addr, inet_addr("10.9.8.50"));
    EXPECT_EQ(ntohs(tevrolink::TheShell().port.peerAddress.sin_port), DEVICE_PORT);
}

// A laptop with Wi-Fi holding the default route and Ethernet to the devices: the search
// leaves through both, each answer names the adapter it came in on, and the update reaches
// the Ethernet segment that no route leads to.
TEST_F(Discovery, EveryAdapterIsSearchedAndTheUpdateReachesTheSegmentWithoutTheDefaultRoute) {
    testsupport::DeviceSegment wifi("pc1", 2);
    ASSERT_TRUE(wifi.Failure().empty() && wifi.PcSide("route add default via 10.2.0.254 dev pc1"))
        << wifi.Failure();
    hostsim::DeviceEmulator &wired = Start({Device("10.1.0.20", 0x20, "wired a"), Device("10.1.0.21", 0x21, "wired b")});
    const auto wireless = Start(wifi, {Device("10.2.0.30", 0x30, "wireless")});

    ASSERT_EQ(OpenNETShell(nullptr, "255.255.255.255", 0, DEVICE_PORT), 1);
    ASSERT_EQ(SendIPDeviceSearchRequest(), 1);
    std::map<uint8_t, std::string> adapterOf;  // by the MAC's last byte
    uint8_t record[TEVROLINK_FRAME_SIZE];
    while (ReadSocketPacket(record, sizeof record) > 0) {
        char adapter[IF_NAMESIZE] = {};
        ASSERT_EQ(GetSocketPacketAdapter(adapter, sizeof adapter), 1);
        adapterOf[record[TEVROLINK_FRAME_HEADER + 17]] = adapter;
    }
    CloseShell();
    EXPECT_EQ(adapterOf, (std::map<uint8_t, std::string>{{0x20, "pc0"}, {0x21, "pc0"}, {0x30, "pc1"}}));
    EXPECT_EQ(wired.Received().size(), 1u) << "one request per adapter";
    EXPECT_EQ(wireless->Received().size(), 1u);

    DeviceEntry change = wired.Entries()[1];
    change.ipAddress[3] = 77;
    EXPECT_EQ(UpdateNodeNetworkParameter(&change), 1);
    EXPECT_GT(ReadSocketPacket(record, sizeof record), 0) << "the wired device confirms";
    CloseShell();
    EXPECT_EQ(wired.Entries()[1].ipAddress[3], 77);

    // The local address chooses one adapter; the update then leaves only there too.
    ASSERT_EQ(OpenNETShell("10.2.0.1", "255.255.255.255", 0, DEVICE_PORT), 1);
    ASSERT_EQ(SendIPDeviceSearchRequest(), 1);
    EXPECT_GT(ReadSocketPacket(record, sizeof record), 0);
    EXPECT_EQ(record[TEVROLINK_FRAME_HEADER + 17], 0x30);
    EXPECT_EQ(UpdateNodeNetworkParameter(&change), 1);
    CloseShell();
    EXPECT_TRUE(wireless->WaitForReceived(4, 3000ms)) << "two searches, two updates";
    EXPECT_EQ(wired.Received().size(), 2u) << "the wired segment heard neither of the last two";
}

struct NotSent {
    const char *name;
    const char *pcSide;        // an `ip` command that takes the means away, or ""
    const char *localAddress;  // the adapter chosen, or null for every one
    int error;
};

void PrintTo(const NotSent &notSent, std::ostream *out) { *out << notSent.name; }

class NothingToSendOn : public Discovery, public testing::WithParamInterface<NotSent> {};

TEST_P(NothingToSendOn, SearchAndUpdateSayWhy) {
    hostsim::DeviceEmulator &devices = Start({Device("10.1.0.20", 0x20, "unheard")});
    if (*GetParam().pcSide) {
        ASSERT_TRUE(segment_->PcSide(GetParam().pcSide)) << segment_->Failure();
    }
    ASSERT_EQ(OpenNETShell(GetParam().localAddress, "255.255.255.255", 0, DEVICE_PORT), 1);
    errno = 0;
    EXPECT_EQ(SendIPDeviceSearchRequest(), 0);
    EXPECT_EQ(errno, GetParam().error);
    errno = 0;
    const DeviceEntry entry = devices.Entries()[0];
    EXPECT_EQ(UpdateNodeNetworkParameter(&entry), 0);
    EXPECT_EQ(errno, GetParam().error);
    CloseShell();
    EXPECT_TRUE(devices.Received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, NothingToSendOn,
    testing::Values(NotSent{"AdapterDown", "link set pc0 down", nullptr, ENODEV},
                    NotSent{"NoIpv4Address", "address flush dev pc0", nullptr, EADDRNOTAVAIL},
                    NotSent{"LocalAddressOnNoAdapter", "", "10.9.9.9", EADDRNOTAVAIL}),
    [](const testing::TestParamInfo<NotSent> &info) { return info.param.name; });

TEST(DiscoveryAnswer, AnAnswerLongerThanItsRecordIsRefused) {
    uint8_t record[TEVROLINK_FRAME_SIZE] = {0xAA, 0xB7, 0, 0, 0, 241};
    EXPECT_EQ(IsValidIPAddrResponse(record), 0);
    record[1] = 0x37;
    record[5] = 0;
    EXPECT_EQ(IsValidIPAddrResponse(record), 0) << "only answers count";
}

}  // namespace
