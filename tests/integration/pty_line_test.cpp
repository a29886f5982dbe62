// hostsim's pseudo-terminal as a serial line: it answers only at its own speed, a paced
// line takes the line time of every byte, it can be reached through a link path, and the
// PC closing its side does not hang it up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
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

// Time since `start` by which `bytes` bytes can have crossed the line at `baud` (ten bits a
// byte); nothing may come through sooner.
std::chrono::nanoseconds LineTime(std::size_t bytes, uint32_t baud) {
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 10'000'000'000LL / baud);
}

TEST(PtyLine, PacedLineTakesTheLineTimeOfEveryByte) {
    constexpr uint32_t kBaud = 115200;
    hostsim::PtyOptions options;
    options.baud = kBaud;
    options.pace = true;
    auto sim = HostSim::StartPty(options);
    const int fd = ::open(sim->PtyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);

    // Node to PC: three full frames handed over at once still come out byte by byte.
    Bytes burst;
    for (uint8_t n = 0; n < 3; ++n) {
        const Bytes frame = hostsim::BuildFrame(0x9C, n, 0, 0, Bytes(240, n));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    auto start = hostsim::Clock::now();
    sim->SendRaw(burst);
    std::size_t got = 0;
    uint8_t buf[1024];
    while (got < burst.size()) {
        pollfd pfd{fd, POLLIN, 0};
        ASSERT_GT(poll(&pfd, 1, static_cast<int>(kWait.count())), 0) << got << " bytes came";
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) continue;
        got += static_cast<std::size_t>(n);
        ASSERT_GE(hostsim::Clock::now() - start, LineTime(got, kBaud)) << "byte " << got << " came early";
    }

    // PC to node: frames written at once arrive one after the other, each at the end of
    // its line time.
    const std::size_t before = sim->ReceivedCount();
    Bytes written;
    for (uint8_t n = 0; n < 3; ++n) {
        const Bytes frame = hostsim::BuildFrame(0x70, n, 0, 0, Bytes(200, n));
        written.insert(written.end(), frame.begin(), frame.end());
    }
    start = hostsim::Clock::now();
    ASSERT_EQ(::write(fd, written.data(), written.size()), static_cast<ssize_t>(written.size()));
    const auto heard = sim->WaitForReceivedCount(WithCode(0x70), 3, kWait, before);
    ASSERT_EQ(heard.size(), 3u);
    std::size_t crossed = 0;
    for (const auto &frame : heard) {
        crossed += frame.bytes.size();
        EXPECT_GE(frame.at - start, LineTime(crossed, kBaud)) << "frame " << int(frame.Seq());
    }
    ::close(fd);
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
