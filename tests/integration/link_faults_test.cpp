// The library on a bad link: commands through lost, damaged, doubled and late frames end
// within their limit, a file written with hand-shake arrives whole through lost frames,
// and the link recovers from a host node that falls silent or restarts.
#include <gtest/gtest.h>

#include <chrono>

#include "link/shell.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::FaultPlan;

namespace {

uint8_t LinkState() { return tevrolink::TheShell().linkState; }

// Six sends 150 ms apart: a command has its answer, or has given up, after 750 ms.
constexpr Millis kCommandLimit{750};
// What the machine may add to that limit (scheduling, a busy core).
constexpr Millis kCommandSlack{150};

struct FaultCase {
    const char *name;
    FaultPlan plan;
    Carrier carrier;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class CommandsUnderFaults : public testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override {
        sim_ = OpenLink(GetParam().carrier);
        ASSERT_TRUE(sim_);
        SetHostHandShake(0);
        sim_->SetFaults(GetParam().plan);
    }
    void TearDown() override { CloseShell(); }
    std::unique_ptr<HostSim> sim_;
};

TEST_P(CommandsUnderFaults, EachEndsWithinItsLimitAndAnAnswerIsTheRightOne) {
    constexpr int kCommands = 40;
    int answered = 0;
    for (int i = 0; i < kCommands; ++i) {
        const int peer = 1 + i % 200;
        uint8_t out = 0;
        const auto started = std::chrono::steady_clock::now();
        const int result = SetPeerNodeID(peer, &out);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, kCommandLimit + kCommandSlack) << "command " << i;
        ASSERT_TRUE(result == 0 || result == 1) << result;
        if (result == 1) {
            ++answered;
            EXPECT_EQ(out, peer) << "command " << i << " took another command's answer";
        }
    }
    // Six tries each: with one frame in five lost either way, a command fails about
    // once in 400.
    EXPECT_GE(answered, kCommands - 2);
}

const FaultCase kFaultCases[] = {
    {"Drop20Udp", {.seed = 11, .dropRate = 0.2}, Carrier::kUdp},
    {"Drop20Pty", {.seed = 11, .dropRate = 0.2}, Carrier::kPty},
    {"Corrupt20Udp", {.seed = 12, .corruptRate = 0.2}, Carrier::kUdp},
    {"Corrupt20Pty", {.seed = 12, .corruptRate = 0.2}, Carrier::kPty},
    {"Duplicate20Udp", {.seed = 13, .duplicateRate = 0.2}, Carrier::kUdp},
    {"Duplicate20Pty", {.seed = 13, .duplicateRate = 0.2}, Carrier::kPty},
    {"Delay40Udp", {.seed = 14, .delay = Millis(40)}, Carrier::kUdp},
    // Within the resend period the order of answers does not matter; past it a command is
    // sent again and its first answer comes back after the second one went.
    {"Reorder60Udp", {.seed = 15, .delay = Millis(60), .reorder = true}, Carrier::kUdp},
    {"Reorder100Udp", {.seed = 15, .delay = Millis(100), .reorder = true}, Carrier::kUdp},
};

INSTANTIATE_TEST_SUITE_P(Faults, CommandsUnderFaults, testing::ValuesIn(kFaultCases),
                         [](const auto &info) { return std::string(info.param.name); });

// One lost answer costs its command a resend, and the next command of the code at most one
// (its answer may be taken for a late copy of the lost one); never one per later command.
class AfterALostAnswer : public testing::TestWithParam<Carrier> {};

TEST_P(AfterALostAnswer, LaterCommandsAreNotSentAgain) {
    auto sim = OpenLink(GetParam());
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    uint8_t id = 0;
    ASSERT_EQ(GetHostNodeID(&id, nullptr), 1);
    sim->DropSent(1);
    const std::size_t before = sim->ReceivedCount();
    constexpr std::size_t kCommands = 6;
    for (std::size_t i = 0; i < kCommands; ++i) ASSERT_EQ(GetHostNodeID(&id, nullptr), 1) << i;
    EXPECT_LE(sim->ReceivedCount() - before, kCommands + 2);
    CloseShell();
}

INSTANTIATE_TEST_SUITE_P(Carriers, AfterALostAnswer, testing::Values(Carrier::kUdp, Carrier::kPty));

// ---- streams with hand-shake ------------------------------------------------------------

Bytes Content(std::size_t size) {
    Bytes content(size);
    uint32_t x = 777;
    for (auto &b : content) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    return content;
}

class StreamUnderFaults : public testing::TestWithParam<Carrier> {
protected:
    void SetUp() override {
        sim_ = OpenLink(GetParam());
        ASSERT_TRUE(sim_);
        ASSERT_TRUE(Synchronise());
        sim_->AddStations({5}, true);
        sim_->SetDrainRate(50'000'000);
        uint8_t out = 0;
        ASSERT_EQ(SetPeerNodeID(5, &out), 1);
        ASSERT_EQ(StartNetCenter(1), 1);
        ASSERT_TRUE(AskForCredit());
    }
    void TearDown() override { CloseShell(); }

    // Asks for a status report and takes it in, as a writer does when it has no credit
    // to go on (at the start, and after the link fell out of step).
    static bool AskForCredit() {
        QueryHostRTxStatus(nullptr);
        return PumpUntil([] { return IsShellWritable(nullptr, nullptr) == 1; }, kWait);
    }

    // Waits until the station holds a whole file of `size` bytes; returns the last file.
    std::optional<hostsim::ReceivedFile> FileArrived(std::size_t size) {
        std::vector<hostsim::ReceivedFile> files;
        PumpUntil([&] {
            files = sim_->ReceivedFiles(5);
            return !files.empty() && files.back().data.size() >= size;
        }, kWait);
        if (files.empty()) return std::nullopt;
        return files.back();
    }

    std::unique_ptr<HostSim> sim_;
};

TEST_P(StreamUnderFaults, AFileArrivesWholeThroughFivePercentLossBothWays) {
    sim_->SetFaults({.seed = 21, .dropRate = 0.05});
    const Bytes content = Content(GetParam() == Carrier::kUdp ? 32 << 10 : 16 << 10);
    WriteFile(5, content);
    const auto file = FileArrived(content.size());
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->data == content);
    EXPECT_TRUE(file->sizeOk && file->crcOk);
    const auto heard = sim_->Received();
    EXPECT_GT(std::count_if(heard.begin(), heard.end(),
                            [](const auto &f) { return f.fate == hostsim::Fate::kDropped; }),
              0) << "the faults were on";
}

TEST_P(StreamUnderFaults, ASilenceShorterThanTheResendsIsRiddenOut) {
    const Bytes content = Content(8 << 10);
    // Silent for a second from the middle of the file on: the library resends for 1.5 s
    // before it gives a frame up.
    bool silenced = false;
    WriteFile(5, content, [&](std::size_t written) {
        if (written < content.size() / 2 || silenced) return;
        sim_->SilenceFor(Millis(1000));
        silenced = true;
    });
    const auto file = FileArrived(content.size());
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->data == content);
    const auto heard = sim_->Received();
    EXPECT_GT(std::count_if(heard.begin(), heard.end(),
                            [](const auto &f) { return f.fate == hostsim::Fate::kIgnored; }),
              0) << "the node was silent while the PC wrote";
}

TEST_P(StreamUnderFaults, ALongSilenceOutOfStepRecoversOnceTheNodeIsBack) {
    sim_->SilenceFor(Millis(2500));
    ASSERT_EQ(WriteStreamToShell(Content(100).data(), 100, 5, 1, 0), 1);
    // The frame is resent six times, then the link falls out of step and asks for a sync.
    ASSERT_TRUE(PumpUntil([] { return LinkState() == 0; }, Millis(2500)));
    const auto out = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([] { return LinkState() == tevrolink::kLinkReady; }, Millis(5000)));
    EXPECT_LT(std::chrono::steady_clock::now() - out, Millis(2500)) << "in step soon after the node is back";
    // The frame given up took the credit with it; a fresh report brings it back.
    ASSERT_TRUE(AskForCredit());
    const Bytes content = Content(4 << 10);
    WriteFile(5, content);
    const auto file = FileArrived(content.size());
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->data == content);
}

TEST_P(StreamUnderFaults, ARestartedNodeIsBroughtBackInStep) {
    const Bytes before = Content(2 << 10);
    WriteFile(5, before);
    ASSERT_TRUE(FileArrived(before.size()));
    sim_->Restart();
    ASSERT_TRUE(PumpUntil([&] {
        return sim_->With([](hostsim::HostNode &n) { return n.Link().Synced(); }) &&
               LinkState() == tevrolink::kLinkReady;
    }, kWait));
    uint8_t id = 0, role = 0;
    EXPECT_EQ(GetHostNodeID(&id, &role), 1);
    const Bytes after = Content(6 << 10);
    WriteFile(5, after);
    const auto file = FileArrived(after.size());
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->data == after);
}

INSTANTIATE_TEST_SUITE_P(Carriers, StreamUnderFaults, testing::Values(Carrier::kUdp, Carrier::kPty),
                         [](const auto &info) { return CarrierName(info.param); });

}  // namespace
