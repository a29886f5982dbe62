// hostsim's pseudo-terminal as a serial line: it answers only at its own speed, it can be
// reached through a link path, and the PC closing its side does not hang it up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "link/shell.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::Fate;
using hostsim::WithCode;

namespace {

TEST(PtyLine, AnswersOnlyWhileTheLineRunsAtItsSpeed) {
    auto sim = OpenLink(Carrier::kPty, 9600, 19200);
    ASSERT_TRUE(sim);
    SetHostHandShake(1);
    // The PC keeps asking for a sync; the node hears it at the wrong speed and keeps quiet.
    std::vector<hostsim::RecordedFrame> heard;
    ASSERT_TRUE(PumpUntil([&] {
        heard = sim->WaitForReceivedCount(WithCode(tevrolink::kCodeSyncRequest), 2, 0ms);
        return heard.size() == 2;
    }, kWait));
    EXPECT_EQ(heard[0].fate, Fate::kIgnored);
    EXPECT_EQ(heard[1].fate, Fate::kIgnored);
    EXPECT_FALSE(sim->WaitForSent(WithCode(tevrolink::kCodeSyncReply), 0ms));
    EXPECT_EQ(tevrolink::TheShell().linkState, tevrolink::kLinkUnsynced);

    // Reopened at the node's speed, the same port synchronises.
    CloseShell();
    ASSERT_EQ(OpenCOMShell(sim->PtyPath().c_str(), 19200), 1);
    EXPECT_TRUE(Synchronise());
    CloseShell();
}

TEST(PtyLine, LinkPathLeadsToTheSlaveAndSurvivesReopening) {
    const std::string link = testing::TempDir() + "hostsim-pty-" + std::to_string(getpid());
    {
        hostsim::PtyOptions options;
        options.linkPath = link;
        auto sim = HostSim::StartPty(options);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(sim->PtyPath(), target);
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(OpenCOMShell(link.c_str(), 115200), 1) << "round " << round;
            SetHostHandShake(0);
            uint8_t id = 0;
            EXPECT_EQ(GetHostNodeID(&id, nullptr), 1) << "round " << round;
            CloseShell();
        }
    }
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link goes with the node";
}

}  // namespace
