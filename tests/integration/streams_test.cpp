// Stream writing and the flow-control waits against hostsim: what one stream frame
// carries, when writing is allowed, how the waits end, and a bulk transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <numeric>

#include "link/shell.h"
#include "link/status_profile.h"
#include "sim/status_report.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::WithCode;

namespace {

constexpr uint8_t kStream = 0x1D;

// A status report payload with the given host flags and credit (and nothing waiting).
Bytes StatusPayload(uint8_t flags, uint16_t credit, uint16_t waiting = 0, uint16_t gate = 0) {
    Bytes p(31, 0);
    p[0] = 0x10;
    p[1] = 5;
    p[2] = flags;
    p[11] = static_cast<uint8_t>(waiting >> 8);
    p[12] = static_cast<uint8_t>(waiting);
    p[13] = static_cast<uint8_t>(credit >> 8);
    p[14] = static_cast<uint8_t>(credit);
    p[15] = 0x08;  // buffer of 2048
    p[18] = static_cast<uint8_t>(gate >> 8);
    p[19] = static_cast<uint8_t>(gate);
    return p;
}

class Streams : public testing::TestWithParam<Carrier> {
protected:
    void SetUp() override {
        sim_ = OpenLink(GetParam());
        ASSERT_TRUE(sim_);
        SetHostHandShake(0);
    }
    void TearDown() override { CloseShell(); }

    // The host reports `payload` as queried status; returns once the PC has decoded it.
    void HostReports(const Bytes &payload) {
        sim_->SendFrame(0x9C, 0, 0, 0, payload);
        bool seen = false;
        ASSERT_TRUE(PumpUntil([&] { return seen; }, kWait,
                              [&](const FrameRecord &f) { seen = f[tevrolink::kCode] == 0x9C; }));
    }

    // Room IsShellWritable grants after the host reported `flags` and `credit`; -1: none.
    int RoomFor(uint8_t flags, uint16_t credit, uint16_t gate = 0) {
        HostReports(StatusPayload(flags, credit, 0, gate));
        uint16_t room = 0xFFFF;
        uint8_t state = 0xEE;
        const int writable = IsShellWritable(&state, &room);
        EXPECT_EQ(state, tevrolink::kLinkReady);
        return writable ? room : -1;
    }

    std::unique_ptr<HostSim> sim_;
};

TEST_P(Streams, OneFrameCarriesTheLowByteOfTheLengthAtMost240) {
    sim_->AddStations({5}, true);
    Bytes data(300);
    std::iota(data.begin(), data.end(), 0);
    ASSERT_EQ(WriteStreamToShell(data.data(), 300, 5, 1, 0x0C), 1);
    // No acknowledgement yet: a second frame is refused and nothing more goes out.
    EXPECT_EQ(WriteStreamToShell(data.data(), 10, 5, 1, 0), 0);
    auto first = sim_->WaitForReceived(WithCode(kStream), kWait);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Payload().size(), 44u) << "300 & 0xFF";
    EXPECT_EQ(first->Attr(), 0x1C);
    EXPECT_EQ(first->Node(), 5);
    ASSERT_TRUE(PumpUntil([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; }, kWait));

    ASSERT_EQ(WriteStreamToShell(data.data(), 250, 0, 2, 0x1F), 1);
    auto second = sim_->WaitForReceivedCount(WithCode(kStream), 2, kWait);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].Payload().size(), 240u);
    EXPECT_EQ(second[1].Attr(), 0x2F) << "kind 2, flags cut to four bits";
    EXPECT_EQ(second[1].Node(), 0) << "broadcast";
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 240, second[1].Payload().begin()));
}

TEST_P(Streams, WritableRoomIsTheCreditInStepsOfFiftyAtMost200) {
    EXPECT_EQ(RoomFor(0x80, 49), -1);
    EXPECT_EQ(RoomFor(0x80, 50), 50);
    EXPECT_EQ(RoomFor(0x80, 199), 150);
    EXPECT_EQ(RoomFor(0x80, 240), 200);
    EXPECT_EQ(RoomFor(0x80, 4000), 200);
    EXPECT_EQ(RoomFor(0x84, 2000), -1) << "receiver suspended";
    EXPECT_EQ(RoomFor(0x00, 2000), -1) << "no receiver active";
    EXPECT_EQ(RoomFor(0x80, 2000, 1), -1) << "gate word set";
    // Closed: the state is still reported.
    CloseShell();
    uint8_t state = 0xEE;
    EXPECT_EQ(IsShellWritable(&state, nullptr), 0);
    EXPECT_EQ(state, tevrolink::kLinkReady);
}

TEST_P(Streams, ReadFromTheHostIsCutToTheCapacity) {
    Bytes data(200);
    std::iota(data.begin(), data.end(), 1);
    ASSERT_EQ(SetHostNodeOutputFile(OUT_FLASH, 0, 0), 1);
    ASSERT_EQ(SendPacketToHostNode(data.data(), 200), 1);
    ASSERT_EQ(SetHostNodeOutputFile(OUT_FLASH, 0, 0), 1);
    uint8_t back[100] = {};
    EXPECT_EQ(RecvPacketFromHostNode(back, sizeof back, 150), 100);
    EXPECT_TRUE(std::equal(back, back + 100, data.begin()));
    auto request = sim_->WaitForReceived(WithCode(0x1E), kWait);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Node(), 255);
    EXPECT_EQ(Bytes(request->Payload().begin(), request->Payload().end()), (Bytes{150, 0, 0, 0}));
    EXPECT_EQ(RecvPacketFromHostNode(nullptr, 100, 10), 0);
}

TEST_P(Streams, StatusQueryIsAnsweredFromAFreshReportOnlyOnce) {
    tevrolink::Shell &shell = tevrolink::TheShell();
    shell.statusFresh = 1;
    shell.statusBlock[tevrolink::kProfileFlags] = 0x80;
    uint8_t copy[TEVROLINK_STATUS_SIZE] = {};
    EXPECT_EQ(QueryHostRTxStatus(copy), 1);
    EXPECT_EQ(copy[tevrolink::kProfileFlags], 0x80);
    EXPECT_EQ(sim_->ReceivedCount(), 0u) << "a fresh report needs no query";
    EXPECT_EQ(QueryHostRTxStatus(nullptr), 0);
    EXPECT_TRUE(sim_->WaitForReceived(WithCode(0x1C), kWait));
    // A poll that reports the answer reads the profile, so the query is not fresh again.
    ASSERT_TRUE(NextFrame(kWait));
    EXPECT_EQ(shell.statusFresh, 0u);
}

TEST_P(Streams, WaitsGiveUpOnALostLinkInsteadOfHanging) {
    // Out of step with hand-shake on: at once.
    SetHostHandShake(1);
    EXPECT_EQ(WaitForShellWritable(nullptr), 0xFF);
    SetHostHandShake(0);
    // A closed shell: at once, for both.
    CloseShell();
    EXPECT_EQ(WaitForShellWritable(nullptr), 0xFF);
    uint16_t credit = 0xBEEF;
    EXPECT_EQ(WaitForShellEmpty(&credit), 0);
    EXPECT_EQ(credit, 0);
}

TEST_P(Streams, WaitForEmptyReturnsOnceTheHostHasSentEverything) {
    HostReports(StatusPayload(0x80, 1000, 300));
    hostsim::ReplyFault drained;
    drained.payload = StatusPayload(0x80, 1500, 0);
    sim_->SetReplyFault(0x1C, drained);
    uint16_t credit = 0;
    EXPECT_EQ(WaitForShellEmpty(&credit), 1);
    EXPECT_EQ(credit, 1500);
    EXPECT_TRUE(sim_->WaitForReceived(WithCode(0x1C), kWait)) << "it asked for the state";
}

INSTANTIATE_TEST_SUITE_P(Carriers, Streams, testing::Values(Carrier::kUdp, Carrier::kPty),
                         [](const auto &info) { return CarrierName(info.param); });

// The silent host: these wait out the five-second limit once each.
TEST(StreamWaits, SilentHostEndsBothWaitsAfterFiveSeconds) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    sim->SetSilent(true);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForShellWritable(nullptr), 0xFF);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(4900));
    EXPECT_LT(took, std::chrono::milliseconds(8000));
    // It kept asking for the state, about every 100 ms, while it waited.
    EXPECT_GE(sim->ReceivedCount(), 30u);

    tevrolink::TheShell().statusBlock[tevrolink::kProfileWaiting] = 1;
    uint16_t credit = 0xBEEF;
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForShellEmpty(&credit), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4900));
    EXPECT_EQ(credit, 0);
    CloseShell();
}

TEST(StreamWaits, AnsweringHostThatGrantsNoRoomEndsTheWaitAfterTenSeconds) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    sim->AddStations({5});
    sim->UpdateStation(5, [](hostsim::Station &s) { s.activationsNeeded = 1000; });
    uint8_t out = 0;
    ASSERT_EQ(SetPeerNodeID(5, &out), 1);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForShellWritable(nullptr), 0xFF);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(9900));
    EXPECT_LT(took, std::chrono::milliseconds(13000));
    EXPECT_TRUE(sim->StatusPayload()[hostsim::kStatusFlags] & 0x08) << "the host kept asking for activation";
    CloseShell();
}

TEST(StreamWaits, AnsweringHostWhoseBufferNeverDrainsEndsTheEmptyWaitAfterTenSeconds) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    hostsim::ReplyFault stuck;
    stuck.count = 0;
    stuck.payload = StatusPayload(0x80, 1000, 500);
    sim->SetReplyFault(0x1C, stuck);
    tevrolink::TheShell().statusBlock[tevrolink::kProfileWaiting] = 1;
    uint16_t credit = 0xBEEF;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForShellEmpty(&credit), 0);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(9900));
    EXPECT_LT(took, std::chrono::milliseconds(13000));
    EXPECT_EQ(credit, 0);
    EXPECT_EQ(tevrolink::ProfileWord(tevrolink::TheShell().statusBlock, tevrolink::kProfileWaiting), 500)
        << "the host kept answering";
    CloseShell();
}

class BulkTransfer : public testing::TestWithParam<std::pair<Carrier, std::size_t>> {};

TEST_P(BulkTransfer, AStationReceivesTheWholeFileIntact) {
    const auto [carrier, size] = GetParam();
    auto sim = OpenLink(carrier);
    ASSERT_TRUE(sim);
    SetHostHandShake(1);
    ASSERT_TRUE(Synchronise());
    sim->AddStations({5}, true);
    sim->SetDrainRate(50'000'000);
    uint8_t out = 0;
    ASSERT_EQ(SetPeerNodeID(5, &out), 1);
    ASSERT_EQ(StartNetCenter(1), 1);
    QueryHostRTxStatus(nullptr);

    Bytes content(size);
    uint32_t x = 12345;
    for (auto &b : content) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    WriteFile(5, content);
    // The host hands the frames on to the station as its radio drains the buffer.
    std::vector<hostsim::ReceivedFile> files;
    ASSERT_TRUE(PumpUntil([&] {
        files = sim->ReceivedFiles(5);
        return !files.empty() && files.back().data.size() >= content.size();
    }, kWait));
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.back().data.size(), content.size());
    EXPECT_TRUE(files.back().data == content);
    EXPECT_TRUE(files.back().sizeOk && files.back().crcOk);
    CloseShell();
}

INSTANTIATE_TEST_SUITE_P(Sizes, BulkTransfer,
                         testing::Values(std::make_pair(Carrier::kUdp, std::size_t{1} << 20),
                                         std::make_pair(Carrier::kPty, std::size_t{64} << 10)),
                         [](const auto &info) {
                             return CarrierName(info.param.first) + std::to_string(info.param.second);
                         });

}  // namespace
