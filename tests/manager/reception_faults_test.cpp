// A file from a station over a bad link: lost, damaged, doubled and late frames, a host
// node that falls silent or restarts in the middle. Every file gets a verdict, and "接收成功"
// only a file that lies on disk whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>

#include "manager/core/queue_pump.h"
#include "tests/manager/hostsim_session.h"

using namespace meradon;
using namespace meradon_test;
using namespace std::chrono_literals;
using hostsim::FaultPlan;

namespace {

constexpr uint8_t kStation = 6;
constexpr uint8_t kDataPacketCode = 0x1E;

enum class Upset { kNone, kSilence, kRestart };  // half way through the file

struct ReceiveFaultCase {
    const char *name;
    SimCarrier carrier;
    bool retransmission;
    FaultPlan plan;
    Upset upset = Upset::kNone;
    bool mustArrive = false;  // the host node's resending carries the file through
};

void PrintTo(const ReceiveFaultCase &c, std::ostream *out) { *out << c.name; }

const ReceiveFaultCase kCases[] = {
    {"Loss1Udp", SimCarrier::kUdp, false, {.seed = 71, .dropRate = 0.01}},
    {"Loss5Pty", SimCarrier::kPty, false, {.seed = 72, .dropRate = 0.05}},
    {"Loss5UdpResend", SimCarrier::kUdp, true, {.seed = 73, .dropRate = 0.05}, Upset::kNone, true},
    {"Loss20Pty", SimCarrier::kPty, false, {.seed = 74, .dropRate = 0.20}},
    {"DamagePty", SimCarrier::kPty, false, {.seed = 75, .corruptRate = 0.05}},
    {"DamageUdpResend", SimCarrier::kUdp, true, {.seed = 76, .corruptRate = 0.05}, Upset::kNone, true},
    {"DoublingUdp", SimCarrier::kUdp, false, {.seed = 77, .duplicateRate = 0.2}},
    {"DoublingPtyResend", SimCarrier::kPty, true, {.seed = 78, .duplicateRate = 0.2}, Upset::kNone, true},
    {"LatenessUdp", SimCarrier::kUdp, false, {.seed = 79, .delay = hostsim::Millis(40), .reorder = true}},
    {"LatenessUdpResend", SimCarrier::kUdp, true, {.seed = 80, .delay = hostsim::Millis(40), .reorder = true}},
    {"SilencePty", SimCarrier::kPty, false, {}, Upset::kSilence},
    {"SilenceUdpResend", SimCarrier::kUdp, true, {}, Upset::kSilence},
    {"RestartUdp", SimCarrier::kUdp, false, {}, Upset::kRestart},
    {"RestartPtyResend", SimCarrier::kPty, true, {}, Upset::kRestart},
};

std::vector<uint8_t> Contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

class ReceptionUnderFaults : public testing::TestWithParam<ReceiveFaultCase> {};

TEST_P(ReceptionUnderFaults, OnlyAWholeFileIsReceivedWell) {
    const ReceiveFaultCase &c = GetParam();
    HostSimSession s("recv-faults", c.carrier);
    s.sim->AddStations({kStation});
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(0, c.retransmission));
    const auto inStep = [&] { return s.sim->With([](hostsim::HostNode &n) { return n.Link().Synced(); }); };
    if (c.retransmission) {
        ASSERT_TRUE(s.RunWindowUntil(inStep, 3s));
    }
    s.sim->SetFaults(c.plan);

    const auto content = Pattern(4 << 10, 0x47);
    s.sim->SendFileFromStation(kStation, content);
    const auto dataPacketsSent = [&] {
        const auto sent = s.sim->Sent();
        return std::count_if(sent.begin(), sent.end(), [](const auto &f) {
            return f.Code() == kDataPacketCode && f.fate != hostsim::Fate::kDuplicated;
        });
    };
    // A file of 4 KiB goes out in 22 packets.
    bool upset = c.upset == Upset::kNone;
    const auto upsetHalfWay = [&] {
        if (upset || dataPacketsSent() < 11) return;
        upset = true;
        if (c.upset == Upset::kSilence) s.sim->SilenceFor(hostsim::Millis(1500));
        if (c.upset == Upset::kRestart) s.sim->Restart();
    };
    // The host node has delivered or given up every data packet, and the last of them has
    // had time to come through any delay and into the window.
    const auto hostDone = [&] {
        if (s.sim->With([](hostsim::HostNode &n) { return n.Link().DataQueued(); }) != 0) return false;
        const auto sent = s.sim->Sent();
        const auto last = std::find_if(sent.rbegin(), sent.rend(),
                                       [](const auto &f) { return f.Code() == kDataPacketCode; });
        return last == sent.rend() || std::chrono::steady_clock::now() - last->at > 300ms;
    };
    ASSERT_TRUE(s.RunWindowUntil(hostDone, 15s, upsetHalfWay));
    EXPECT_TRUE(upset) << "the upset never came";
    if (s.State().recvFile) {
        // The tail never came: the receive time-out closes the file.
        s.clock.Skip(kReceiveTimeoutMs + 1);
        ASSERT_TRUE(s.RunWindowUntil([&] { return !s.State().recvFile; }, 2s));
        EXPECT_TRUE(StartsWith(s.view.LineTexts().back(), "接收超时")) << s.view.LineTexts().back();
    }

    const auto texts = s.view.LineTexts();
    bool wellReceived = false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!StartsWith(texts[i], "接收成功")) continue;
        wellReceived = true;
        ASSERT_LT(i + 1, texts.size());
        ASSERT_TRUE(StartsWith(texts[i + 1], "文件:")) << texts[i + 1];
        EXPECT_TRUE(Contents(texts[i + 1].substr(std::string("文件:").size())) == content)
            << "a file received well is not on disk whole";
    }
    if (c.mustArrive) {
        EXPECT_TRUE(wellReceived) << ::testing::PrintToString(texts);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, ReceptionUnderFaults, testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
