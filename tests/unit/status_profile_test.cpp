// Status reports: decoding into the profile and the acknowledgement rules.
#include <gtest/gtest.h>

#include <cstring>

#include "link/frame.h"
#include "link/shell.h"
#include "link/status_profile.h"
#include "tevrolink/tevrolink.h"

using namespace tevrolink;

namespace {

TEST(StatusProfile, FieldsLandOneByteLaterInHostOrder) {
    uint8_t payload[31];
    for (int i = 0; i < 31; ++i) payload[i] = static_cast<uint8_t>(0xA0 + i);
    payload[13] = 0x01;
    payload[14] = 0x2C;
    uint8_t profile[32];
    std::memset(profile, 0x77, sizeof profile);
    DecodeStatusPayload(payload, profile);
    EXPECT_EQ(profile[1], 0xA0);
    EXPECT_EQ(profile[2], 0xA1);
    EXPECT_EQ(profile[3], 0xA2);
    EXPECT_EQ(ProfileWord(profile, kProfileCredit), 300);
    EXPECT_EQ(profile[14], 0x2C);
    EXPECT_EQ(profile[15], 0x01);
    EXPECT_EQ(ProfileWord(profile, 5), 0xA4A5);
    EXPECT_EQ(ProfileWord(profile, kProfileWaiting), 0xABAC);
    EXPECT_EQ(ProfileWord(profile, 30), 0xBDBE);
    for (int untouched : {0, 4, 11, 18, 25}) EXPECT_EQ(profile[untouched], 0x77) << untouched;
}

class Acknowledgement : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(report_, 0, sizeof report_);
        report_[kCode] = kCodeStatusAck;
    }
    void TearDown() override { ::SetHostHandShake(0); }
    uint8_t Apply(uint8_t txSeq, uint8_t acknowledged) {
        Shell &shell = TheShell();
        shell.txSeq = txSeq;
        shell.linkState = kLinkAwaitingAck;
        shell.port.resendCount = 3;
        report_[kSeq] = acknowledged;
        uint8_t kind = 0;
        EXPECT_EQ(::IsValidStatusPacket(report_, &kind), 1);
        EXPECT_EQ(kind, 1);
        return shell.linkState;
    }
    uint8_t report_[kFrameSize];
};

TEST_F(Acknowledgement, WindowOfTwoAroundTheLastSentNumber) {
    ::SetHostHandShake(1);
    EXPECT_EQ(Apply(10, 10), kLinkReady);
    EXPECT_EQ(TheShell().port.resendCount, 0);
    EXPECT_EQ(Apply(10, 9), kLinkAwaitingAck);
    EXPECT_EQ(TheShell().port.resendCount, 3);
    EXPECT_EQ(Apply(10, 8), kLinkUnsynced);
    EXPECT_EQ(Apply(10, 11), kLinkUnsynced);
    // Wrap-around: after 255 comes 0.
    EXPECT_EQ(Apply(0, 255), kLinkAwaitingAck);
    EXPECT_EQ(Apply(0, 0), kLinkReady);
}

TEST_F(Acknowledgement, SecondLookAtTheSameReportChangesNothing) {
    ::SetHostHandShake(1);
    EXPECT_EQ(Apply(10, 10), kLinkReady);
    EXPECT_EQ(::IsValidStatusPacket(report_, nullptr), 1);
    EXPECT_EQ(TheShell().linkState, kLinkReady);
}

TEST_F(Acknowledgement, WithoutHandShakeAnyReportMakesTheLinkReady) {
    ::SetHostHandShake(0);
    EXPECT_EQ(Apply(10, 200), kLinkReady);
}

TEST_F(Acknowledgement, QueriedStatusNeverMovesTheLink) {
    ::SetHostHandShake(1);
    TheShell().linkState = kLinkAwaitingAck;
    report_[kCode] = kCodeStatusQueried;
    uint8_t kind = 0;
    EXPECT_EQ(::IsValidStatusPacket(report_, &kind), 1);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(TheShell().linkState, kLinkAwaitingAck);
    report_[kCode] = kCodeData;
    kind = 9;
    EXPECT_EQ(::IsValidStatusPacket(report_, &kind), 0);
    EXPECT_EQ(kind, 9);
}

TEST(StatusProfileRead, ReadingClearsTheFreshMarkEvenWithoutADestination) {
    TheShell().statusFresh = 1;
    EXPECT_EQ(::GetStatusPacketProfile(nullptr), 1);
    EXPECT_EQ(TheShell().statusFresh, 0u);
}

}  // namespace
