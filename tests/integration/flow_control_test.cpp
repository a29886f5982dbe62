// Status reports and flow control against hostsim: activation of the receiving station,
// the host flags, and the transmit buffer's credit as it fills and drains.
#include <gtest/gtest.h>

#include "link/shell.h"
#include "link/status_profile.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using tevrolink::kCode;
using tevrolink::kCodeStatusQueried;

namespace {

struct Profile {
    uint8_t bytes[TEVROLINK_STATUS_SIZE] = {};
    uint8_t HostState() const { return bytes[tevrolink::kProfileHostState]; }
    uint8_t Flags() const { return bytes[tevrolink::kProfileFlags]; }
    uint16_t Waiting() const { return tevrolink::ProfileWord(bytes, tevrolink::kProfileWaiting); }
    uint16_t Credit() const { return tevrolink::ProfileWord(bytes, tevrolink::kProfileCredit); }
    uint16_t Size() const { return tevrolink::ProfileWord(bytes, tevrolink::kProfileBufferSize); }
};

class FlowControl : public testing::Test {
protected:
    void SetUp() override {
        sim_ = OpenLink(Carrier::kUdp);
        ASSERT_TRUE(sim_);
        sim_->AddStations({5});
        SetHostHandShake(0);
    }
    void TearDown() override { CloseShell(); }

    // Asks for a status report and returns the profile decoded from it.
    Profile Query() {
        Profile p;
        QueryHostRTxStatus(nullptr);
        bool answered = false;
        PumpUntil([&] { return answered; }, kWait,
                  [&](const FrameRecord &f) { answered = answered || f[kCode] == kCodeStatusQueried; });
        EXPECT_TRUE(answered);
        GetStatusPacketProfile(p.bytes);
        return p;
    }

    void Activate(uint8_t station) {
        uint8_t out = 0;
        ASSERT_EQ(SetPeerNodeID(station, &out), 1);
        ASSERT_EQ(StartNetCenter(1), 1);
    }

    std::unique_ptr<HostSim> sim_;
};

TEST_F(FlowControl, ActivationFlagsFollowTheReceivingStation) {
    sim_->UpdateStation(5, [](hostsim::Station &s) { s.activationsNeeded = 2; });
    Activate(5);
    Profile p = Query();
    EXPECT_EQ(p.Flags(), 0x08) << "a slow station needs a second activation";
    EXPECT_EQ(p.HostState(), 0x10);
    EXPECT_EQ(p.bytes[tevrolink::kProfilePeer], 5);
    EXPECT_EQ(IsShellWritable(nullptr, nullptr), 0);

    Activate(5);
    p = Query();
    EXPECT_EQ(p.Flags(), 0x80);
    EXPECT_EQ(p.HostState(), 0x10) << "activated, but no data has flowed yet";
    uint16_t room = 0;
    EXPECT_EQ(IsShellWritable(nullptr, &room), 1);
    EXPECT_EQ(room, 200) << "2048 free, capped at 200";

    sim_->UpdateStation(5, [](hostsim::Station &s) { s.suspended = true; });
    p = Query();
    EXPECT_EQ(p.Flags() & 0x84, 0x84);
    EXPECT_EQ(IsShellWritable(nullptr, nullptr), 0);
    EXPECT_NE(WaitForShellWritable(nullptr) & 0x04, 0) << "a suspended receiver ends the wait";

    // Broadcast: ready only while some active station can hear it.
    uint8_t out = 0;
    ASSERT_EQ(SetPeerNodeID(0, &out), 1);
    EXPECT_EQ(Query().Flags(), 0x08);
    const uint8_t five[] = {5};
    ASSERT_EQ(SetNodeActive(five, 1), 1);  // also takes the suspension back
    EXPECT_EQ(Query().Flags(), 0x80);
}

TEST_F(FlowControl, CreditShrinksAsTheBufferFillsAndReturnsAsItDrains) {
    sim_->SetBufferSize(300);
    sim_->SetDrainRate(0);  // the radio holds everything for now
    Activate(5);
    ASSERT_TRUE(Synchronise());
    EXPECT_EQ(Query().Credit(), 300);

    uint16_t room = 0;
    ASSERT_EQ(IsShellWritable(nullptr, &room), 1);
    ASSERT_EQ(room, 200);
    const hostsim::Bytes chunk(200, 0x5A);
    ASSERT_EQ(WriteStreamToShell(chunk.data(), room, 5, 1, 0x04), 1);
    ASSERT_TRUE(PumpUntil([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; }, kWait));
    Profile p;
    GetStatusPacketProfile(p.bytes);
    EXPECT_EQ(p.Waiting(), 200);
    EXPECT_EQ(p.Credit(), 100) << "the acknowledgement already counts the frame";
    EXPECT_EQ(p.Size(), 300);
    EXPECT_EQ(p.HostState(), 0x20) << "busy sending";

    ASSERT_EQ(IsShellWritable(nullptr, &room), 1);
    ASSERT_EQ(room, 100);
    ASSERT_EQ(WriteStreamToShell(chunk.data(), room, 5, 1, 0x08), 1);
    ASSERT_TRUE(PumpUntil([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; }, kWait));
    EXPECT_EQ(IsShellWritable(nullptr, nullptr), 0) << "no credit left";

    sim_->SetDrainRate(20000);
    uint16_t credit = 0;
    ASSERT_EQ(WaitForShellEmpty(&credit), 1);
    EXPECT_EQ(credit, 300);
    EXPECT_EQ(Query().HostState(), 0x40) << "connected until the PC ends it";
    ASSERT_EQ(StopHost(), 1);
    EXPECT_EQ(Query().HostState(), 0x10);
    const hostsim::Station station = sim_->StationState(5);
    EXPECT_EQ(station.bytesReceived, 300u);
    ASSERT_EQ(station.files.Finished().size(), 1u);
    EXPECT_EQ(station.files.Finished()[0].data.size(), 300u);
}

TEST_F(FlowControl, ANonZeroGateWordStopsWriting) {
    Activate(5);
    sim_->With([](hostsim::HostNode &n) { n.Model().statusGate = 1; });
    Query();
    EXPECT_EQ(IsShellWritable(nullptr, nullptr), 0);
    sim_->With([](hostsim::HostNode &n) { n.Model().statusGate = 0; });
    Query();
    EXPECT_EQ(IsShellWritable(nullptr, nullptr), 1);
}

}  // namespace
