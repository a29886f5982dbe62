// The PC side of the link protocol against hostsim, with retransmission support on and
// off: the sync exchange from either side, sequencing of the host's data packets, the
// acknowledgement rules of status reports, and the link keeper.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/receive.h"
#include "link/shell.h"
#include "link/streams.h"
#include "tests/integration/sim_harness.h"

using namespace simtest;
using namespace tevrolink;
using hostsim::RecordedFrame;
using hostsim::WithCode;
using hostsim::WithCodeAndSeq;

namespace {

class LinkStateTest : public testing::TestWithParam<Carrier> {
protected:
    void SetUp() override {
        sim_ = OpenLink(GetParam());
        ASSERT_TRUE(sim_);
    }
    void TearDown() override { CloseShell(); }

    // Sends one stream frame to station 2 and returns its sequence number.
    uint8_t WriteOneStream() {
        const uint8_t data[] = {1, 2, 3, 4};
        EXPECT_EQ(WriteStreamToShell(data, sizeof data, 2, 1, 0x0C), 1);
        return TheShell().txSeq;
    }

    // Makes the host answer with a status report numbered `seq` and polls it in.
    void AcknowledgeWith(uint8_t seq) {
        sim_->SendStatus(kCodeStatusAck, seq);
        const auto frame = NextFrame(kWait);
        ASSERT_TRUE(frame);
        EXPECT_EQ((*frame)[kCode], kCodeStatusAck);
    }

    std::unique_ptr<hostsim::HostSim> sim_;
};

TEST_P(LinkStateTest, PcStartedSyncMakesTheLinkReady) {
    SetHostHandShake(1);
    EXPECT_EQ(TheShell().linkState, kLinkUnsynced);
    std::vector<FrameRecord> reported;
    ASSERT_TRUE(PumpUntil([] { return TheShell().linkState == kLinkReady; }, kWait,
                          [&](const FrameRecord &f) { reported.push_back(f); }));
    EXPECT_TRUE(reported.empty()) << "sync frames are never handed to the caller";

    const auto request = sim_->WaitForReceived(WithCode(kCodeSyncRequest), kWait);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Seq(), TheShell().txSeq);
    const auto reply = sim_->WaitForSent(WithCode(kCodeSyncReply), kWait);
    ASSERT_TRUE(reply);
    EXPECT_EQ(TheShell().rxSeq, reply->Seq()) << "the PC adopts the host's number";
    EXPECT_TRUE(sim_->WaitForReceived(WithCode(kCodeSyncConfirm), kWait));
}

TEST_P(LinkStateTest, HostStartedSyncIsAnsweredAndConfirmed) {
    ASSERT_TRUE(Synchronise());
    sim_->With([](hostsim::HostNode &n) { n.Link().SetTxSeq(77); });
    const std::size_t mark = sim_->ReceivedCount();
    sim_->StartSync();
    // The host's 0x27 knocks the link back to 0 and the PC answers with 0x28; the host's
    // confirmation 0x29 makes it ready again.
    ASSERT_TRUE(PumpUntil([&] {
        return sim_->WaitForReceived(WithCode(kCodeSyncReply), 0ms, mark) &&
               sim_->WaitForSent(WithCode(kCodeSyncConfirm), 0ms) &&
               TheShell().linkState == kLinkReady;
    }, kWait));
    EXPECT_EQ(TheShell().rxSeq, 77);
    EXPECT_EQ(sim_->WaitForReceived(WithCode(kCodeSyncReply), 0ms, mark)->Seq(), TheShell().txSeq);
}

TEST_P(LinkStateTest, DataPacketsAreTakenInSequenceAcrossTheWrap) {
    // The host numbers from 253 on, so the PC expects 254, 255, 0, 1.
    sim_->With([](hostsim::HostNode &n) { n.Link().SetTxSeq(253); });
    ASSERT_TRUE(Synchronise());
    ASSERT_EQ(TheShell().rxSeq, 253);
    const std::size_t mark = sim_->ReceivedCount();

    const uint8_t payload[] = {0xAB};
    for (int i = 0; i < 3; ++i) sim_->SendDataPacket(9, 0x10, payload);
    auto frames = CollectUntil([&] {
        return sim_->WaitForReceivedCount(WithCode(kCodeDataAck), 3, 0ms, mark).size() == 3;
    }, kWait);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0][kSeq], 254);
    EXPECT_EQ(frames[1][kSeq], 255);
    EXPECT_EQ(frames[2][kSeq], 0);
    EXPECT_EQ(frames[2][kNode], 9);
    const auto acks = sim_->WaitForReceivedCount(WithCode(kCodeDataAck), 3, 0ms, mark);
    EXPECT_EQ(acks[0].Seq(), 254);
    EXPECT_EQ(acks[1].Seq(), 255);
    EXPECT_EQ(acks[2].Seq(), 0);

    // A repeat of 0 and a jump to 2 are dropped unacknowledged; 1 is then accepted.
    const std::size_t mark2 = sim_->ReceivedCount();
    sim_->SendFrame(kCodeData, 0, 9, 0x10, payload);
    sim_->SendFrame(kCodeData, 2, 9, 0x10, payload);
    sim_->SendFrame(kCodeData, 1, 9, 0x10, payload);
    frames = CollectUntil([&] {
        return sim_->WaitForReceived(WithCode(kCodeDataAck), 0ms, mark2).has_value();
    }, kWait);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][kSeq], 1);
    ASSERT_TRUE(Barrier(*sim_));
    const auto later = sim_->WaitForReceivedCount(WithCode(kCodeDataAck), 2, 0ms, mark2);
    ASSERT_EQ(later.size(), 1u) << "only the accepted packet is acknowledged";
    EXPECT_EQ(later[0].Seq(), 1);
    EXPECT_EQ(TheShell().rxSeq, 1);
}

TEST_P(LinkStateTest, WithoutHandShakeEveryDataPacketIsReportedAndNoneAcknowledged) {
    SetHostHandShake(0);
    EXPECT_EQ(TheShell().linkState, kLinkReady);
    const std::size_t mark = sim_->ReceivedCount();
    const uint8_t payload[] = {0x55, 0x66};
    for (uint8_t seq : {5, 5, 3}) sim_->SendFrame(kCodeData, seq, 4, 0x10, payload);
    std::vector<FrameRecord> frames;
    ASSERT_TRUE(PumpUntil([&] { return frames.size() == 3; }, kWait,
                          [&](const FrameRecord &f) { frames.push_back(f); }));
    ASSERT_TRUE(Barrier(*sim_));
    EXPECT_FALSE(sim_->WaitForReceived(WithCode(kCodeDataAck), 0ms, mark));
}

TEST_P(LinkStateTest, StatusReportAcknowledgementRules) {
    ASSERT_TRUE(Synchronise());
    sim_->SetSilent(true);  // only the reports the test sends
    struct Case {
        int offset;  // acknowledged number relative to txSeq
        uint8_t expected;
    };
    for (const Case c : {Case{0, kLinkReady}, Case{-1, kLinkAwaitingAck}, Case{-2, kLinkUnsynced},
                         Case{1, kLinkUnsynced}}) {
        TheShell().linkState = kLinkReady;
        const uint8_t seq = WriteOneStream();
        ASSERT_EQ(TheShell().linkState, kLinkAwaitingAck);
        AcknowledgeWith(static_cast<uint8_t>(seq + c.offset));
        EXPECT_EQ(TheShell().linkState, c.expected) << "acknowledging txSeq " << c.offset;
    }
    // The window wraps: with txSeq 0, number 255 is the previous frame.
    TheShell().linkState = kLinkReady;
    TheShell().txSeq = 255;
    ASSERT_EQ(WriteOneStream(), 0);
    AcknowledgeWith(255);
    EXPECT_EQ(TheShell().linkState, kLinkAwaitingAck);
    AcknowledgeWith(0);
    EXPECT_EQ(TheShell().linkState, kLinkReady);
}

TEST_P(LinkStateTest, WithoutHandShakeAnyStatusReportMakesTheLinkReady) {
    SetHostHandShake(0);
    sim_->SetSilent(true);
    TheShell().linkState = kLinkAwaitingAck;
    AcknowledgeWith(static_cast<uint8_t>(TheShell().txSeq + 40));
    EXPECT_EQ(TheShell().linkState, kLinkReady);
}

TEST_P(LinkStateTest, KeeperResendsSixTimesEvery250MsThenAsksForSync) {
    ASSERT_TRUE(Synchronise());
    sim_->SetSilent(true);
    const std::size_t mark = sim_->ReceivedCount();
    const uint8_t seq = WriteOneStream();
    ASSERT_TRUE(PumpUntil([&] {
        return sim_->WaitForReceived(WithCode(kCodeSyncRequest), 0ms, mark).has_value();
    }, 4000ms));

    const auto all = sim_->Received();
    std::vector<RecordedFrame> after(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end());
    ASSERT_GE(after.size(), 8u);
    // The frame, six identical resends, then the sync request and nothing in between.
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(after[i].Code(), kCodeStream) << i;
        EXPECT_EQ(after[i].bytes, after[0].bytes) << "resend " << i << " differs";
    }
    EXPECT_EQ(after[0].Seq(), seq);
    EXPECT_EQ(after[7].Code(), kCodeSyncRequest);
    EXPECT_EQ(after[7].Seq(), seq) << "the sync request carries txSeq";
    for (std::size_t i = 1; i < 8; ++i) {
        const auto gap = std::chrono::duration_cast<Millis>(after[i].at - after[i - 1].at);
        // The keeper counts whole milliseconds, so a period may look a little short.
        EXPECT_GE(gap.count(), 245) << "gap before frame " << i;
        EXPECT_LE(gap.count(), 400) << "gap before frame " << i;
    }
    EXPECT_EQ(TheShell().linkState, kLinkUnsynced);

    // Once the host answers again the next sync request brings the link back.
    sim_->SetSilent(false);
    EXPECT_TRUE(PumpUntil([] { return TheShell().linkState == kLinkReady; }, kWait));
}

TEST_P(LinkStateTest, WithoutHandShakeNothingIsResent) {
    SetHostHandShake(0);
    sim_->SetSilent(true);
    const std::size_t mark = sim_->ReceivedCount();
    WriteOneStream();
    // Long enough for two keeper periods; nothing may follow the one frame.
    PumpUntil([] { return false; }, 600ms);
    ASSERT_TRUE(Barrier(*sim_));
    EXPECT_EQ(sim_->WaitForReceivedCount(WithCode(kCodeStream), 2, 0ms, mark).size(), 1u);
    EXPECT_EQ(TheShell().linkState, kLinkAwaitingAck);
}

TEST_P(LinkStateTest, LostAcknowledgementLeadsToOneDeliveryAndReadyLink) {
    sim_->AddStations({2});
    sim_->SetDrainRate(1000000);
    ASSERT_TRUE(Synchronise());
    sim_->DropSent(1);  // the first status report never reaches the PC
    const uint8_t file[] = {'a', 'b', 'c'};
    ASSERT_EQ(WriteStreamToShell(file, sizeof file, 2, 1, 0x0C), 1);
    ASSERT_TRUE(PumpUntil([] { return TheShell().linkState == kLinkReady; }, kWait));
    EXPECT_EQ(sim_->LinkStats().duplicateStreams, 1u) << "the keeper's resend was a repeat";
    ASSERT_TRUE(sim_->WaitUntil(
        [](const hostsim::HostNode &n) { return n.Model().stations.At(2).files.Finished().size() == 1; },
        kWait));
    EXPECT_EQ(sim_->StationState(2).bytesReceived, sizeof file) << "delivered once";
}

INSTANTIATE_TEST_SUITE_P(Carriers, LinkStateTest, testing::Values(Carrier::kUdp, Carrier::kPty),
                         [](const auto &info) { return CarrierName(info.param); });

}  // namespace
