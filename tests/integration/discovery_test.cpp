// Finding network-attached host nodes and changing their configuration, inside a private
// network namespace so that no broadcast leaves this test.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>

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
    }
    void TearDown() override { CloseShell(); }

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
};

TEST_F(Discovery, SearchRequestIsEightBytesAndAnswersComeInOrderDuplicatesKept) {
    std::vector<hostsim::NetworkDevice> devices = {Device("10.9.8.20", 0x20, "first"),
                                                   Device("10.9.8.21", 0x21, "second")};
    devices[1].behaviour.answersPerSearch = 2;
    hostsim::DeviceEmulator emulator(devices);
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
    hostsim::DeviceEmulator emulator(devices);
    const auto found = Search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::memcmp(&found[0], &devices[0].entry, 40), 0);
    const uint8_t *rest = reinterpret_cast<const uint8_t *>(&found[0]) + 40;
    EXPECT_TRUE(std::all_of(rest, rest + 26, [](uint8_t b) { return b == 0; }));
}

TEST_F(Discovery, NoAnswerEndsTheReadAfterAboutTwoHundredMilliseconds) {
    std::vector<hostsim::NetworkDevice> devices = {Device("10.9.8.40", 0x40, "mute")};
    devices[0].behaviour.silent = true;
    hostsim::DeviceEmulator emulator(devices);
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
    hostsim::DeviceEmulator emulator(devices);
    DeviceEntry change = devices[1].entry;
    const uint8_t newAddress[4] = {10, 9, 8, 77};
    std::memcpy(change.ipAddress, newAddress, 4);
    EXPECT_EQ(UpdateNodeNetworkParameter(&change), 1);
    uint8_t record[TEVROLINK_FRAME_SIZE];
    EXPECT_GT(ReadSocketPacket(record, sizeof record), 0) << "the device confirms";
    // The sender of the confirmation is now the peer: loopback, the device port.
    const sockaddr_in &peer = tevrolink::TheShell().port.peerAddress;
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

TEST(DiscoveryAnswer, AnAnswerLongerThanItsRecordIsRefused) {
    uint8_t record[TEVROLINK_FRAME_SIZE] = {0xAA, 0xB7, 0, 0, 0, 241};
    EXPECT_EQ(IsValidIPAddrResponse(record), 0);
    record[1] = 0x37;
    record[5] = 0;
    EXPECT_EQ(IsValidIPAddrResponse(record), 0) << "only answers count";
}

}  // namespace
