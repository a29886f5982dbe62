// Sending a file to one station over a bad link: lost, damaged, doubled and late frames, a
// host node that falls silent or restarts in the middle. Whatever happens, the sending
// ends, and it reports success only for a file the station holds whole; otherwise the
// operator is told it failed. Either way the next sending, over a healthy link, succeeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "tests/manager/hostsim_session.h"

using namespace meradon;
using namespace meradon_test;
using namespace std::chrono_literals;
using hostsim::FaultPlan;

namespace {

constexpr uint8_t kStation = 5;

enum class Upset {
    kNone,
    kShortSilence,  // half way through the file, for less than the link resends
    kLongSilence,   // half way through the file, for longer than the link resends
    kRestart,       // half way through the file
    kRestartAtEnd,  // once the file is handed over, with its end still in the host's buffer
    kLostAck,       // half way through the file, the acknowledgement of one stream frame
    kFileShrinks,   // half way through, the file being sent is cut short on disk
};

struct SendFaultCase {
    const char *name;
    SimCarrier carrier;
    bool retransmission;
    FaultPlan plan;
    Upset upset = Upset::kNone;
    bool mustArrive = false;  // the link's resending carries the file through these faults
};

void PrintTo(const SendFaultCase &c, std::ostream *out) { *out << c.name; }

constexpr FaultPlan kClean{};
constexpr FaultPlan Loss(uint32_t seed, double rate) { return {.seed = seed, .dropRate = rate}; }
constexpr FaultPlan Damage(uint32_t seed) { return {.seed = seed, .corruptRate = 0.05}; }
constexpr FaultPlan Doubling(uint32_t seed) { return {.seed = seed, .duplicateRate = 0.2}; }
constexpr FaultPlan Lateness(uint32_t seed) {
    return {.seed = seed, .delay = hostsim::Millis(40), .reorder = true};
}

const SendFaultCase kCases[] = {
    {"Loss1Udp", SimCarrier::kUdp, true, Loss(31, 0.01), Upset::kNone, true},
    {"Loss5Udp", SimCarrier::kUdp, true, Loss(32, 0.05), Upset::kNone, true},
    {"Loss20Udp", SimCarrier::kUdp, true, Loss(33, 0.20)},
    {"Loss5Pty", SimCarrier::kPty, true, Loss(34, 0.05), Upset::kNone, true},
    {"Loss20Pty", SimCarrier::kPty, true, Loss(35, 0.20)},
    {"Loss1UdpNoResend", SimCarrier::kUdp, false, Loss(36, 0.01)},
    {"Loss5PtyNoResend", SimCarrier::kPty, false, Loss(37, 0.05)},
    {"DamageUdp", SimCarrier::kUdp, true, Damage(41), Upset::kNone, true},
    {"DamagePty", SimCarrier::kPty, true, Damage(42), Upset::kNone, true},
    {"DamagePtyNoResend", SimCarrier::kPty, false, Damage(43)},
    {"DoublingUdp", SimCarrier::kUdp, true, Doubling(51), Upset::kNone, true},
    {"DoublingPtyNoResend", SimCarrier::kPty, false, Doubling(52)},
    {"LatenessUdp", SimCarrier::kUdp, true, Lateness(61)},
    {"LatenessUdpNoResend", SimCarrier::kUdp, false, Lateness(62)},
    {"ShortSilenceUdp", SimCarrier::kUdp, true, kClean, Upset::kShortSilence, true},
    {"ShortSilencePtyNoResend", SimCarrier::kPty, false, kClean, Upset::kShortSilence},
    {"LongSilencePty", SimCarrier::kPty, true, kClean, Upset::kLongSilence},
    {"RestartUdp", SimCarrier::kUdp, true, kClean, Upset::kRestart},
    {"RestartPtyNoResend", SimCarrier::kPty, false, kClean, Upset::kRestart},
    {"RestartAtEndUdp", SimCarrier::kUdp, true, kClean, Upset::kRestartAtEnd},
    {"RestartAtEndPtyNoResend", SimCarrier::kPty, false, kClean, Upset::kRestartAtEnd},
    {"LostAckUdpNoResend", SimCarrier::kUdp, false, kClean, Upset::kLostAck},
    {"LostAckPty", SimCarrier::kPty, true, kClean, Upset::kLostAck, true},
    {"FileShrinksUdp", SimCarrier::kUdp, true, kClean, Upset::kFileShrinks},
};

class SendingUnderFaults : public testing::TestWithParam<SendFaultCase> {};

bool Has(const std::vector<std::string> &texts, const std::string &text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The whole of `content` reached the station as its latest file.
bool HoldsWhole(HostSimSession &s, const std::vector<uint8_t> &content) {
    const auto files = s.sim->ReceivedFiles(kStation);
    return !files.empty() && files.back().data == content && files.back().sizeOk && files.back().crcOk;
}

TEST_P(SendingUnderFaults, SuccessOnlyForAFileTheStationHoldsWhole) {
    const SendFaultCase &c = GetParam();
    HostSimSession s("send-faults", c.carrier);
    s.sim->AddStations({kStation}, true);
    s.sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = kStation; });
    // Slow enough at the end for the host node to hold the file's last bytes for a while.
    s.sim->SetDrainRate(c.upset == Upset::kRestartAtEnd ? 8'000 : 200'000);
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(kStation, c.retransmission));
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 3s));
    s.sim->SetFaults(c.plan);

    // Larger than the reading's buffer when the file is cut short under it.
    const auto content = Pattern(c.upset == Upset::kFileShrinks ? 64 << 10 : 4 << 10, 0x6D);
    const std::string path = s.WriteFile("bad-link.bin", content);
    ASSERT_EQ(s.manager.PrepareSending(path), PrepareResult::Armed);
    bool upset = c.upset == Upset::kNone;
    const auto upsetOnCue = [&] {
        const char step = s.State().sendState.load();
        const bool cue = c.upset == Upset::kRestartAtEnd ? step == FILE_END || step == FINISH
                                                         : s.State().sendDone.load() >= content.size() / 2;
        if (upset || !cue) return;
        upset = true;
        if (c.upset == Upset::kShortSilence) s.sim->SilenceFor(hostsim::Millis(1000));
        if (c.upset == Upset::kLongSilence) s.sim->SilenceFor(hostsim::Millis(2500));
        if (c.upset == Upset::kRestart || c.upset == Upset::kRestartAtEnd) s.sim->Restart();
        if (c.upset == Upset::kLostAck) s.sim->DropSent(1);  // the next report acknowledges a chunk
        if (c.upset == Upset::kFileShrinks) std::filesystem::resize_file(path, content.size() / 2);
    };
    const auto told = [&] { return !s.view.Boxes().empty(); };
    // Over once the operator has been told the outcome: the worker ends the sending first,
    // then writes its lines and asks for its box.
    const auto outcomeTold = [&] {
        const auto lines = s.view.LineTexts();
        return told() || Has(lines, "成功: 5") || Has(lines, "失败: 5") || Has(lines, "读取文件失败,传输中止: " + path);
    };
    const bool ended = s.RunWindowUntil(
        [&] {
            return (s.State().sendState.load() == IDLE || told()) && !s.State().sendFile.IsOpen() &&
                   !s.view.AnyPosted() && outcomeTold();
        },
        15s, upsetOnCue);
    const auto texts = s.view.LineTexts();
    ASSERT_TRUE(ended) << "the sending neither ended nor told the operator: state "
                       << s.State().sendState.load() << ::testing::PrintToString(texts);
    EXPECT_EQ(s.State().sendState.load(), IDLE) << "whatever the operator was told, the sending is over";
    EXPECT_TRUE(upset) << "the upset never came";

    const bool whole = HoldsWhole(s, content);
    const bool succeeded = Has(texts, "成功: 5");
    // The results of the sending say what the record says, whichever way it ended.
    const auto records = s.manager.Context().sendings.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].Ended());
    ASSERT_EQ(records[0].stations.size(), 1u);
    EXPECT_EQ(records[0].stations[0].outcome == StationOutcome::Succeeded, succeeded)
        << OutcomeText(records[0].stations[0].outcome);
    const bool unreadable = Has(texts, "读取文件失败,传输中止: " + path);
    if (succeeded) {
        EXPECT_TRUE(whole) << "success reported for a file the station does not hold";
        EXPECT_TRUE(s.view.Boxes().empty()) << ::testing::PrintToString(s.view.Boxes());
    } else {
        EXPECT_TRUE(told() || unreadable || Has(texts, "失败: 5")) << ::testing::PrintToString(texts);
    }
    if (c.upset == Upset::kFileShrinks) {
        EXPECT_TRUE(unreadable) << "a file cut short is this computer's problem: " << ::testing::PrintToString(texts);
        EXPECT_TRUE(s.view.Boxes().empty()) << "the link is fine: " << ::testing::PrintToString(s.view.Boxes());
    }
    if (c.upset == Upset::kRestartAtEnd) {
        EXPECT_FALSE(whole) << "the restart came too late to lose anything";
    }
    if (c.mustArrive) {
        EXPECT_TRUE(succeeded && whole) << ::testing::PrintToString(texts);
    }

    // The operator tries again at once, over a link that is healthy now: the link, the
    // host node and the receiver are as a finished sending leaves them.
    s.sim->SetFaults(kClean);
    s.view.ClearRecords();
    const auto again = Pattern(1500, 0x3C);
    ASSERT_EQ(s.manager.PrepareSending(s.WriteFile("again.bin", again)), PrepareResult::Armed);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.SendingOver(); }, 20s))
        << "state " << s.State().sendState.load() << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(Has(s.view.LineTexts(), "成功: 5")) << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(HoldsWhole(s, again));
    EXPECT_EQ(s.linksLost, 0) << "the link stayed open throughout";
}

INSTANTIATE_TEST_SUITE_P(Faults, SendingUnderFaults, testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
