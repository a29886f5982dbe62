// The host-node command set against hostsim: settings that persist, station lists and
// bitmaps, the host's own output devices, and replies that come late or wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;

using hostsim::WithCode;

namespace {

class HostCommands : public testing::TestWithParam<Carrier> {
protected:
    void SetUp() override {
        sim_ = OpenLink(GetParam());
        ASSERT_TRUE(sim_);
        SetHostHandShake(0);
    }
    void TearDown() override { CloseShell(); }
    std::unique_ptr<HostSim> sim_;
};

TEST_P(HostCommands, SettingsPersistAndOutOfRangeValuesAreRefused) {
    uint8_t out = 0, role = 0;
    ASSERT_EQ(SetHostNodeID(7, &out), 1);
    EXPECT_EQ(out, 7);
    EXPECT_EQ(SetHostNodeID(255, &out), 1);
    EXPECT_EQ(out, 7) << "255 is not a station";
    ASSERT_EQ(GetHostNodeID(&out, &role), 1);
    EXPECT_EQ(out, 7);
    EXPECT_NE(role, 0) << "master by default";
    sim_->UpdateSettings([](hostsim::HostSettings &s) { s.master = false; });
    ASSERT_EQ(GetHostNodeID(&out, &role), 1);
    EXPECT_EQ(role, 0);

    ASSERT_EQ(SetPeerNodeID(5, &out), 1);
    ASSERT_EQ(GetPeerNodeID(&out), 1);
    EXPECT_EQ(out, 5);
    ASSERT_EQ(SetFrequencyPointX1(16, &out), 1);
    EXPECT_EQ(out, 16);
    ASSERT_EQ(SetFrequencyPointX1(17, &out), 1);
    EXPECT_EQ(out, 16) << "points stop at 16";
    ASSERT_EQ(SetFrequencyPointX2(3, &out), 1);
    ASSERT_EQ(GetFrequencyPointX2(&out), 1);
    EXPECT_EQ(out, 3);
    ASSERT_EQ(GetFrequencyPointX1(&out), 1);
    EXPECT_EQ(out, 16) << "X1 and X2 are kept apart";
    ASSERT_EQ(SetWirelessPower(13, &out), 1);
    EXPECT_EQ(out, 5);
    ASSERT_EQ(SetShellHandShake(1), 1);
    ASSERT_EQ(GetShellHandShake(&out), 1);
    EXPECT_EQ(out, 1);
    ASSERT_EQ(SetDeviceBaudRate(57600), 1);
    ASSERT_EQ(SetHostRTCTimer(), 1);

    const hostsim::HostSettings s = sim_->Settings();
    EXPECT_EQ(s.nodeId, 7);
    EXPECT_EQ(s.peer, 5);
    EXPECT_EQ(s.power, 5);
    EXPECT_TRUE(s.handShake);
    EXPECT_EQ(s.baudCode, 0x28);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(s.clock[5], local.tm_mon + 1);
    EXPECT_EQ(s.clock[6], (local.tm_year + 1900 - 2000) & 0xFF);
}

TEST_P(HostCommands, StationListsAndNodeStatusBitmaps) {
    sim_->AddStations({1, 3, 8, 254});
    sim_->UpdateStation(3, [](hostsim::Station &s) { s.suspended = true; });
    const uint8_t on[] = {1, 8, 254};
    ASSERT_EQ(SetNodeActive(on, 3), 1);
    const uint8_t off[] = {8};
    ASSERT_EQ(SetNodeInactive(off, 1), 1);
    uint8_t list[8] = {}, count = 0;
    ASSERT_EQ(GetActiveNodeList(list, sizeof list, &count), 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(list[0], 1);
    EXPECT_EQ(list[1], 254);

    uint8_t status[256] = {}, length = 0;
    ASSERT_EQ(GetNetworkNodeStatus(status, sizeof status, &length), 1);
    ASSERT_EQ(length, 128) << "four 32-byte bitmaps";
    auto has = [&](int map, int station) { return (status[32 * map + station / 8] >> (station % 8)) & 1; };
    EXPECT_TRUE(has(0, 1) && has(0, 254) && !has(0, 8)) << "active";
    EXPECT_TRUE(has(1, 3) && has(1, 8)) << "online";
    EXPECT_TRUE(has(3, 3) && !has(3, 1)) << "suspended";

    // Activating a suspended station takes it back.
    const uint8_t three[] = {3};
    ASSERT_EQ(SetNodeActive(three, 1), 1);
    uint8_t state = 0;
    ASSERT_EQ(QueryNodeStatus(3, &state), 1);
    EXPECT_EQ(state, hostsim::kStateActive | hostsim::kStateOnline);
    ASSERT_EQ(QueryNodeStatus(99, &state), 1);
    EXPECT_EQ(state, 0) << "a station out of range";
}

TEST_P(HostCommands, FirmwareTextIsHandedOverAsStored) {
    // "主机" in GBK, then ASCII.
    const hostsim::Bytes text = {0xD6, 0xF7, 0xBB, 0xFA, ' ', 'V', '2', '.', '1'};
    sim_->UpdateSettings([&](hostsim::HostSettings &s) { s.firmware = text; });
    uint8_t buffer[64] = {};
    ASSERT_EQ(GetFirmwareVersion(buffer, sizeof buffer), 1);
    EXPECT_EQ(hostsim::Bytes(buffer, buffer + text.size()), text);
    EXPECT_EQ(buffer[text.size()], 0);
    EXPECT_EQ(GetFirmwareVersion(buffer, static_cast<int>(text.size()) - 1), 255)
        << "text longer than the capacity";
}

TEST_P(HostCommands, HostFlashIsWrittenReadAndCleared) {
    hostsim::Bytes data(200);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(SetHostNodeOutputFile(OUT_FLASH, 0, 0x400), 1);
    ASSERT_EQ(SendPacketToHostNode(data.data(), static_cast<uint32_t>(data.size())), 1);
    const hostsim::Bytes flash = sim_->HostDevice(OUT_FLASH);
    ASSERT_EQ(flash.size(), 0x400 + data.size());
    EXPECT_EQ(hostsim::Bytes(flash.begin() + 0x400, flash.end()), data);

    uint16_t capacity = 0, used = 0;
    ASSERT_EQ(GetHostMediaInfo(OUT_FLASH, &capacity, &used), 1);
    EXPECT_EQ(capacity, 1024);
    EXPECT_EQ(used, 2) << "KiB up to the furthest byte written";

    ASSERT_EQ(SetHostNodeOutputFile(OUT_FLASH, 0, 0x400 + 50), 1);
    uint8_t back[240] = {};
    ASSERT_EQ(RecvPacketFromHostNode(back, sizeof back, 100), 100);
    EXPECT_TRUE(std::equal(back, back + 100, data.begin() + 50));

    ASSERT_EQ(ClearHostNodeOutputFile(OUT_FLASH, 0x400, 10), 1);
    const hostsim::Bytes cleared = sim_->HostDevice(OUT_FLASH);
    EXPECT_EQ(hostsim::Bytes(cleared.begin() + 0x400, cleared.begin() + 0x40A), hostsim::Bytes(10, 0xFF));
    EXPECT_EQ(cleared[0x40A], data[10]);
    ASSERT_EQ(ClearHostNodeOutputFile(OUT_FLASH, 0, 0xFFFFFFFFu), 1);
    EXPECT_TRUE(sim_->HostDevice(OUT_FLASH).empty());
    ASSERT_EQ(GetHostMediaInfo(OUT_FLASH, &capacity, &used), 1);
    EXPECT_EQ(used, 0);
}

TEST_P(HostCommands, ALateOrWrongReplyIsWaitedOutOrGivenUp) {
    // First answer carries another command's code: the library keeps waiting and resends.
    hostsim::ReplyFault wrong;
    wrong.code = 0x94;
    sim_->SetReplyFault(0x15, wrong);
    uint8_t id = 0;
    const std::size_t mark = sim_->ReceivedCount();
    ASSERT_EQ(GetHostNodeID(&id, nullptr), 1);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(sim_->WaitForReceivedCount(WithCode(0x15), 3, 0ms, mark).size(), 2u);

    // No answer at all: six requests 150 ms apart, then 0.
    hostsim::ReplyFault never;
    never.count = 0;
    never.omit = true;
    sim_->SetReplyFault(0x1B, never);
    const std::size_t mark2 = sim_->ReceivedCount();
    EXPECT_EQ(GetPeerNodeID(&id), 0);
    const auto requests = sim_->WaitForReceivedCount(WithCode(0x1B), 6, kWait, mark2);
    ASSERT_EQ(requests.size(), 6u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const auto gap = std::chrono::duration_cast<Millis>(requests[i].at - requests[i - 1].at);
        EXPECT_GE(gap.count(), 145) << i;
        EXPECT_LE(gap.count(), 300) << i;
    }
}

TEST_P(HostCommands, StopHostIsSentWithoutWaitingAndDropsTheLinks) {
    sim_->AddStations({5});
    uint8_t out = 0;
    ASSERT_EQ(SetPeerNodeID(5, &out), 1);
    ASSERT_EQ(StartNetCenter(1), 1);
    ASSERT_TRUE(sim_->StationState(5).linked);
    const std::size_t sentBefore = sim_->SentCount();
    ASSERT_EQ(StopHost(), 1);
    ASSERT_TRUE(sim_->WaitUntil(
        [](const hostsim::HostNode &n) { return !n.Model().stations.At(5).linked; }, kWait));
    ASSERT_TRUE(Barrier(*sim_));
    EXPECT_EQ(sim_->SentCount(), sentBefore) << "StopHost has no reply";
}

// The device search belongs to the network: on a serial line nothing of it reaches the
// host node, and a read loop that runs until 0 ends there and on a closed shell.
TEST(DeviceSearchOffTheNetwork, ASerialShellSendsNothingAndReadsEndAtOnce) {
    auto sim = OpenLink(Carrier::kPty);
    ASSERT_TRUE(sim);
    uint8_t record[TEVROLINK_FRAME_SIZE];
    std::memset(record, 0xEE, sizeof record);
    EXPECT_EQ(SendIPDeviceSearchRequest(), 0);
    EXPECT_EQ(ReadSocketPacket(record, sizeof record), 0);
    EXPECT_EQ(record[0], 0) << "the buffer is zeroed";
    ASSERT_TRUE(Barrier(*sim));
    EXPECT_FALSE(sim->WaitForReceived(WithCode(0x37), 0ms)) << "the host node heard a search";
    CloseShell();
    EXPECT_EQ(ReadSocketPacket(record, sizeof record), 0);
}

INSTANTIATE_TEST_SUITE_P(Carriers, HostCommands, testing::Values(Carrier::kUdp, Carrier::kPty),
                         [](const auto &info) { return CarrierName(info.param); });

}  // namespace
