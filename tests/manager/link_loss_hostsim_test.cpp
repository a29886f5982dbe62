// The link ending under the manager: the serial adapter pulled out in the middle of a
// sending, and a host node that stops answering for a while in the middle of a file it
// sends or receives. The operator is told once, the files end with honest verdicts, a line
// that is gone opens again, and a link to a node that comes back goes on by itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "manager/core/link_watch.h"
#include "tests/manager/hostsim_session.h"

using namespace meradon;
using namespace meradon_test;
using namespace std::chrono_literals;

namespace {

bool HasLineStarting(const std::vector<std::string> &texts, const std::string &prefix) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string &t) { return t.rfind(prefix, 0) == 0; });
}

bool HasLine(const std::vector<std::string> &texts, const std::string &text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(LinkLoss, PulledAdapterEndsTheSendingAndTheLinkOpensAgain) {
    HostSimSession s("pulled", SimCarrier::kPty);
    s.sim->AddStations({3}, true);
    s.sim->SetDrainRate(2000);  // the radio is slow: the file takes a while
    const std::string port = s.sim->PtyPath();
    s.view.SetSelector(port);
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(0));
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 3s));
    s.manager.RefreshFromHost();  // the list the window shows, as command set mode read it

    const auto content = Pattern(20000, 0x21);
    ASSERT_EQ(s.manager.PrepareSending(s.WriteFile("long.bin", content)), PrepareResult::Armed);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().sendDone.load() >= 1000; }, 10s));
    s.sim.reset();  // pulled out
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.linksLost > 0; }, 3s))
        << ::testing::PrintToString(s.view.LineTexts());

    EXPECT_EQ(s.view.Boxes(), std::vector<std::string>{"与主节点的连接已断开: " + port + "\r\n请检查后重新打开"});
    const auto texts = s.view.LineTexts();
    EXPECT_TRUE(HasLine(texts, "传输失败,文件没有全部送达")) << ::testing::PrintToString(texts);
    EXPECT_TRUE(HasLine(texts, "与主节点的连接已断开: " + port + ",连接已关闭"));
    EXPECT_FALSE(HasLineStarting(texts, "成功")) << "a broken sending is never a success";
    const auto records = s.manager.Context().sendings.Records();
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].stations.size(), 1u) << "station 3, active at the start";
    EXPECT_EQ(records[0].stations[0].outcome, StationOutcome::LinkLost);
    EXPECT_TRUE(s.SendingOver());
    EXPECT_EQ(IsShellActive(), 0);
    EXPECT_EQ(s.State().linkMode.load(), LINK_WINDOW);

    // A new adapter, a new host node: open again and send a whole file.
    s.sim = StartHost(SimCarrier::kPty);
    s.sim->AddStations({3}, true);
    s.view.SetSelector(s.sim->PtyPath());
    s.view.ClearRecords();
    ASSERT_TRUE(s.OpenLink());
    ASSERT_TRUE(s.EnterDataMode(0));
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 3s));
    const auto again = Pattern(3000, 0x42);
    ASSERT_EQ(s.manager.PrepareSending(s.WriteFile("again.bin", again)), PrepareResult::Armed);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.SendingOver(); }, 20s))
        << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(HasLine(s.view.LineTexts(), "成功: 3")) << ::testing::PrintToString(s.view.LineTexts());
    const auto files = s.sim->ReceivedFiles(3);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].data, again);
    EXPECT_EQ(s.view.Boxes().size(), 1u) << "nothing more to tell";
    EXPECT_EQ(s.linksLost, 1);
}

TEST(LinkLoss, WithRetransmissionASilentNodeIsToldOnceAndTheNextSendingWorks) {
    HostSimSession s("silent-retransmission");
    s.sim->AddStations({3}, true);
    s.sim->SetBufferSize(65535);
    s.view.SetSelector("127.0.0.1");
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(0, true));
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 3s));
    // Room in the node's buffer all along: when it falls silent, a chunk is on its way
    // or about to be, and goes unacknowledged.
    ASSERT_EQ(s.manager.PrepareSending(s.WriteFile("long.bin", Pattern(200'000, 0x17))), PrepareResult::Armed);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().sendDone.load() >= 1000; }, 10s));
    s.sim->SilenceFor(hostsim::Millis(kSilentLinkMs + 1500));

    // Out of step after the resends (the box), then silent: said once, the link stays.
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s.view.LineTexts(), "主节点没有应答: 127.0.0.1"); }, 15s))
        << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_EQ(s.view.Boxes(), std::vector<std::string>{"串口通讯失步，请检查后重试！"});
    EXPECT_TRUE(HasLine(s.view.LineTexts(), "传输失败,文件没有全部送达")) << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(s.SendingOver());
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s.view.LineTexts(), "主节点恢复应答: 127.0.0.1"); }, 10s))
        << ::testing::PrintToString(s.view.LineTexts());

    s.view.ClearRecords();
    const auto again = Pattern(3000, 0x42);
    ASSERT_EQ(s.manager.PrepareSending(s.WriteFile("again.bin", again)), PrepareResult::Armed);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.SendingOver(); }, 20s));
    EXPECT_TRUE(HasLine(s.view.LineTexts(), "成功: 3")) << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_EQ(s.sim->ReceivedFiles(3).back().data, again);
    EXPECT_EQ(s.linksLost, 0);
    EXPECT_EQ(s.view.Boxes().size(), 1u) << "nothing more to tell";
}

TEST(LinkLoss, ReceptionGoesOnAfterTheNodeWasSilent) {
    HostSimSession s("silent");
    s.sim->AddStations({6});
    s.view.SetSelector("127.0.0.1");
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(0));

    const auto content = Pattern(1000, 0x66);
    hostsim::FileSendOptions noTail;
    noTail.stopBeforeTail = true;
    s.sim->SendFileFromStation(6, content, noTail);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().rxBytes[6] == 800; }, 10s));
    const std::string path = s.State().recvPath;
    s.sim->SilenceFor(hostsim::Millis(kSilentLinkMs + 1000));  // a radio modem that hangs

    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s.view.LineTexts(), "主节点恢复应答: 127.0.0.1"); }, 15s))
        << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(HasLine(s.view.LineTexts(), "主节点没有应答: 127.0.0.1"));
    EXPECT_TRUE(s.view.Boxes().empty()) << "an unattended manager rides it out";
    EXPECT_EQ(s.linksLost, 0);
    EXPECT_EQ(IsShellActive(), 1);

    // The station sends the file again: the unfinished one ends abnormally, the new one
    // arrives whole, with nobody at the window.
    s.sim->SendFileFromStation(6, content);
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLineStarting(s.view.LineTexts(), "接收成功"); }, 10s))
        << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(HasLine(s.view.LineTexts(), "文件异常关闭,大小 800 bytes"));
    EXPECT_EQ(std::filesystem::file_size(path), 800u);
    EXPECT_EQ(std::filesystem::file_size(s.State().recvPath), content.size());
}

// "关闭" while a station's packets stream in: what the worker was dispatching at that
// moment is dropped with the link, and no receive file opens again afterwards.
TEST(LinkLoss, ClosingWhilePacketsArriveLeavesNoFileOpen) {
    HostSimSession s("close-under-packets");
    s.sim->AddStations({6});
    ASSERT_TRUE(s.Open());
    hostsim::FileSendOptions noTail;
    noTail.stopBeforeTail = true;
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(s.EnterDataMode(0));
        // Without its tail the file stays open however fast its packets are taken in.
        s.sim->SendFileFromStation(6, Pattern(60000, static_cast<uint8_t>(round)), noTail);
        ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().recvFile != nullptr; }, 5s)) << round;
        s.manager.CloseLink();
        s.RunWindowUntil([] { return false; }, 100ms);
        EXPECT_FALSE(s.State().recvFile) << "a packet of the closed link opened a file, round " << round;
        PacketRecord left;
        EXPECT_FALSE(s.State().dataQueue.Pop(left)) << round;
        ASSERT_TRUE(s.OpenLink());
    }
}

}  // namespace
