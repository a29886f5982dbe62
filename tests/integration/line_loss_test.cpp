// The library when the line goes away under it: a serial adapter pulled out (the far end of
// the pty closes) closes the shell at once, whatever the library was doing, and the port
// can be opened again; a UDP peer that is gone makes commands give up, the link fall out of
// step and the writer stop after its silence limit.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/shell.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using Steady = std::chrono::steady_clock;

namespace {

constexpr uint8_t kStatusQuery = 0x1C;
// The waits give up on a silent line after this long; a hung-up line must not take it.
constexpr Millis kSilenceLimit{5000};

uint8_t LinkState() { return tevrolink::TheShell().linkState; }

TEST(PulledAdapter, AWaitUnderWayEndsAtOnceAndThePortOpensAgain) {
    auto sim = OpenLink(Carrier::kPty);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    // No receiving station: the wait keeps asking for the state, and the node answers.
    Steady::time_point pulledAt;
    std::thread adapter([&] {
        EXPECT_TRUE(sim->WaitForReceived(hostsim::WithCode(kStatusQuery), kWait)) << "the wait asks";
        pulledAt = Steady::now();
        sim.reset();
    });
    const int flags = WaitForShellWritable(nullptr);
    const auto returnedAt = Steady::now();
    adapter.join();
    EXPECT_EQ(flags, 0xFF);
    EXPECT_EQ(IsShellActive(), 0) << "a hung-up line closes the shell";
    EXPECT_LT(returnedAt - pulledAt, kSilenceLimit / 2) << "it did not wait for the silence limit";

    uint8_t state = 0xEE;
    EXPECT_EQ(IsShellReadable(&state, nullptr), 0);
    uint16_t credit = 0xBEEF;
    EXPECT_EQ(WaitForShellEmpty(&credit), 0);
    EXPECT_EQ(credit, 0);
    EXPECT_EQ(CloseShell(), 0);

    // The adapter plugged in again: the port is not left locked or marked exclusive.
    auto again = OpenLink(Carrier::kPty);
    ASSERT_TRUE(again);
    SetHostHandShake(0);
    uint8_t id = 0;
    EXPECT_EQ(GetHostNodeID(&id, nullptr), 1);
    CloseShell();
}

// A link in step with hand-shake on, station 5 active as the receiver.
std::unique_ptr<HostSim> OpenTowardsStation5(Carrier carrier) {
    auto sim = OpenLink(carrier);
    if (!sim || !Synchronise()) return nullptr;
    sim->AddStations({5}, true);
    uint8_t out = 0;
    if (SetPeerNodeID(5, &out) != 1 || StartNetCenter(1) != 1) return nullptr;
    return sim;
}

TEST(PulledAdapter, ACommandFindsTheLineGoneAndTheFileStops) {
    auto sim = OpenTowardsStation5(Carrier::kPty);
    ASSERT_TRUE(sim);
    uint8_t out = 0;
    const Bytes chunk(200, 0x5A);
    uint16_t room = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(WaitForShellWritable(&room) & 0x04, 0);
        ASSERT_EQ(WriteStreamToShell(chunk.data(), room, 5, 1, i == 0 ? 0x04 : 0), 1);
    }
    sim.reset();  // pulled out in the middle of the file

    EXPECT_EQ(GetHostNodeID(&out, nullptr), 0);
    EXPECT_EQ(IsShellActive(), 0) << "closed by the failed write, not left to the resends";
    EXPECT_EQ(WaitForShellWritable(&room), 0xFF);
    EXPECT_EQ(WriteStreamToShell(chunk.data(), 50, 5, 1, 0), 0);
    CloseShell();
}

TEST(GonePeer, CommandsGiveUpTheLinkFallsOutOfStepAndTheWriterStops) {
    auto sim = OpenTowardsStation5(Carrier::kUdp);
    ASSERT_TRUE(sim);
    uint8_t out = 0;
    uint16_t room = 0;
    ASSERT_EQ(WaitForShellWritable(&room) & 0x04, 0);
    sim.reset();  // the node is gone, its port closed

    EXPECT_EQ(GetHostNodeID(&out, nullptr), 0) << "no answer after the resends";
    const Bytes chunk(room, 0x33);
    ASSERT_EQ(WriteStreamToShell(chunk.data(), room, 5, 1, 0x04), 1);
    EXPECT_TRUE(PumpUntil([] { return LinkState() == 0; }, kWait)) << "out of step after the resends";
    EXPECT_EQ(WaitForShellWritable(&room), 0xFF);

    // Without hand-shake nothing falls out of step: the writer stops on the silence.
    SetHostHandShake(0);
    const auto started = Steady::now();
    EXPECT_EQ(WaitForShellWritable(&room), 0xFF);
    EXPECT_GE(Steady::now() - started, kSilenceLimit - Millis(100));
    EXPECT_EQ(IsShellActive(), 1) << "a socket cannot tell a gone peer from a silent one";
    CloseShell();
}

}  // namespace
