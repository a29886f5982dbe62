// The link ending under the manager: the serial adapter pulled out in the middle of a
// sending, and a host node that stops answering in the middle of a file it sends. The
// operator is told once, the files end with honest verdicts, and the link opens again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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

TEST(LinkLoss, WithRetransmissionAGoneNodeIsToldOnce) {
    HostSimSession s("gone-retransmission");
    s.sim->AddStations({3}, true);
    s.sim->SetDrainRate(2000);
    s.view.SetSelector("127.0.0.1");
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(0));
    s.State().linkMode = LINK_WINDOW;  // "支持数据重传" checked: the window turns it on
    ::SetHostHandShake(1);
    s.State().linkMode = LINK_DATA;
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 3s));
    ASSERT_EQ(s.manager.PrepareSending(s.WriteFile("long.bin", Pattern(20000, 0x17))), PrepareResult::Armed);
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().sendDone.load() >= 1000; }, 10s));
    s.sim.reset();

    // Out of step after the resends (the box), then silent until the link is closed.
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.linksLost > 0; }, 15s))
        << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_EQ(s.view.Boxes(), std::vector<std::string>{"串口通讯失步，请检查后重试！"});
    const auto texts = s.view.LineTexts();
    EXPECT_TRUE(HasLine(texts, "传输失败,文件没有全部送达")) << ::testing::PrintToString(texts);
    EXPECT_TRUE(HasLine(texts, "主节点没有应答: 127.0.0.1,连接已关闭"));
    EXPECT_TRUE(s.SendingOver());
}

TEST(LinkLoss, SilentHostEndsAHalfReceivedFileAsAbnormal) {
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
    s.sim.reset();  // the node is gone

    ASSERT_TRUE(s.RunWindowUntil([&] { return s.linksLost > 0; }, 10s));
    EXPECT_EQ(s.view.Boxes(), std::vector<std::string>{"主节点没有应答: 127.0.0.1\r\n请检查后重新打开"});
    const auto texts = s.view.LineTexts();
    EXPECT_TRUE(HasLine(texts, "文件异常关闭,大小 800 bytes")) << ::testing::PrintToString(texts);
    EXPECT_FALSE(HasLineStarting(texts, "接收成功"));
    EXPECT_FALSE(s.State().recvFile);
    EXPECT_EQ(std::filesystem::file_size(path), 800u);
    EXPECT_EQ(IsShellActive(), 0);
}

}  // namespace
