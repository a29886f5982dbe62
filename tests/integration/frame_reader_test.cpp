// hostsim's reassembly of frames from the pty byte stream.
#include <gtest/gtest.h>

#include "sim/frame_reader.h"

using hostsim::Bytes;
using hostsim::BuildFrame;
using hostsim::Clock;
using hostsim::FrameReader;

namespace {

std::vector<Bytes> FeedAll(FrameReader &reader, const Bytes &stream, std::size_t step,
                           Clock::time_point at) {
    std::vector<Bytes> out;
    for (std::size_t i = 0; i < stream.size(); i += step)
        reader.Feed(stream.data() + i, std::min(step, stream.size() - i), at, out);
    return out;
}

TEST(FrameReader, FindsFramesInNoiseWhateverTheChunking) {
    const uint8_t payload[] = {0xAA, 0x00, 0x05, 0xAA};  // sync bytes inside a payload
    const Bytes a = BuildFrame(0x1D, 7, 2, 0x1C, payload);
    const Bytes b = BuildFrame(0x27, 3, 0, 0);
    Bytes stream = {0x00, 0xAA, 0x13, 0x55};  // noise with a false sync byte
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());
    for (std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{8}, stream.size()}) {
        FrameReader reader;
        const auto frames = FeedAll(reader, stream, step, Clock::now());
        ASSERT_EQ(frames.size(), 2u) << "chunks of " << step;
        EXPECT_EQ(frames[0], a);
        EXPECT_EQ(frames[1], b);
        EXPECT_EQ(reader.PendingBytes(), 0u);
    }
}

TEST(FrameReader, ADamagedFrameWhoseFalseLengthHidesTheNextIsRecoveredWhenStale) {
    // Byte 9 damaged: the payload's 0xAA then looks like a frame start whose length byte
    // comes from the next frame and asks for more bytes than will ever come.
    const uint8_t payload[] = {0xAA, 0x00, 0x05, 0xAA};
    Bytes damaged = BuildFrame(0x1D, 7, 2, 0x1C, payload);
    damaged[9] ^= 0x40;
    const Bytes b = BuildFrame(0x27, 3, 0, 0);
    Bytes stream = damaged;
    stream.insert(stream.end(), b.begin(), b.end());

    FrameReader reader;
    const auto t0 = Clock::now();
    auto frames = FeedAll(reader, stream, stream.size(), t0);
    EXPECT_TRUE(frames.empty());
    ASSERT_NE(reader.StaleAt(), Clock::time_point::max());
    reader.Expire(t0 + hostsim::kStaleCandidate / 2, frames);
    EXPECT_TRUE(frames.empty()) << "not stale yet";
    reader.Expire(reader.StaleAt(), frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], b);
}

TEST(FrameReader, KeepsAnIncompleteFrameUntilItsLastByte) {
    const uint8_t payload[] = {1, 2, 3};
    const Bytes a = BuildFrame(0x14, 0, 0, 0, payload);
    FrameReader reader;
    std::vector<Bytes> out;
    const auto t0 = Clock::now();
    reader.Feed(a.data(), a.size() - 1, t0, out);
    EXPECT_TRUE(out.empty());
    reader.Feed(a.data() + a.size() - 1, 1, t0 + hostsim::Millis(5), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], a);
}

}  // namespace
