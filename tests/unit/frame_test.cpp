#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/frame.h"
#include "tests/support/test_frames.h"

using namespace tevrolink;
using testing_frames::WireFrame;

namespace {

TEST(LinkFrame, WorkedFramesAreSealedAsTheHostExpects) {
    EXPECT_EQ(WireFrame(0x15), (std::vector<uint8_t>{0xAA, 0x15, 0, 0, 0, 0, 0xCD, 0x8E}));
    EXPECT_EQ(WireFrame(0x14, {5}), (std::vector<uint8_t>{0xAA, 0x14, 0, 0, 0, 1, 0x57, 0x4D, 5}));
    EXPECT_EQ(WireFrame(0x27), (std::vector<uint8_t>{0xAA, 0x27, 0, 0, 0, 0, 0x0E, 0x9D}));
    EXPECT_EQ(WireFrame(0x1C), (std::vector<uint8_t>{0xAA, 0x1C, 0, 0, 0, 0, 0xCD, 0x17}));
}

TEST(LinkFrame, SealingTwiceGivesTheSameCrc) {
    uint8_t frame[kFrameSize] = {};
    frame[kCode] = 0x1D;
    frame[kLength] = 3;
    frame[kPayload] = 1;
    SealLinkFrame(frame);
    const uint8_t hi = frame[kCrcHigh], lo = frame[kCrcLow];
    SealLinkFrame(frame);
    EXPECT_EQ(frame[kCrcHigh], hi);
    EXPECT_EQ(frame[kCrcLow], lo);
    EXPECT_TRUE(CheckLinkFrame(frame));
}

TEST(LinkFrame, CheckRejectsEverySingleBitChangeAndLeavesTheFrameAlone) {
    std::vector<uint8_t> payload(40);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> good = WireFrame(0x1D, payload);
    good.resize(kFrameSize, 0);
    ASSERT_TRUE(CheckLinkFrame(good.data()));
    const std::vector<uint8_t> before = good;
    EXPECT_TRUE(CheckLinkFrame(good.data()));
    EXPECT_EQ(good, before);

    const std::size_t wire = kFrameHeader + payload.size();
    for (std::size_t byte = 0; byte < wire; ++byte) {
        // A changed length byte moves the CRC's reach; it must still be caught.
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<uint8_t> bad = good;
            bad[byte] ^= static_cast<uint8_t>(1u << bit);
            EXPECT_FALSE(CheckLinkFrame(bad.data())) << "byte " << byte << " bit " << bit;
        }
    }
}

TEST(LinkFrame, EmptyPayloadFrameIsEightBytes) {
    EXPECT_EQ(WireFrame(0x1C).size(), 8u);
}

}  // namespace
