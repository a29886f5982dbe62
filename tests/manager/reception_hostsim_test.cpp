// Files that hostsim's stations send to the PC, through the worker, the data queue and
// the window's step.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/manager/hostsim_session.h"

using namespace meradon;
using namespace meradon_test;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool HasLine(HostSimSession &s, const std::string &prefix) {
    for (auto &t : s.view.LineTexts())
        if (t.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace

TEST(ReceptionWithHostSim, VerdictsOfFilesFromStations) {
    HostSimSession s("recv");
    s.sim->AddStations({6});
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(0));

    const auto content = Pattern(3000, 0x33);
    s.sim->SendFileFromStation(6, content);
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s, "文件:"); }, 10s))
        << ::testing::PrintToString(s.view.LineTexts());
    auto texts = s.view.LineTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "开始接收,大小 3000 bytes");
    EXPECT_EQ(texts[1], "接收成功,大小 3000 bytes");
    EXPECT_EQ(Contents(s.State().recvPath), content);
    EXPECT_EQ(texts[2], "文件:" + s.State().recvPath);
    EXPECT_EQ(s.view.Cell(5, kColumnData), "3000");

    s.view.ClearRecords();
    hostsim::FileSendOptions wrongCrc;
    wrongCrc.wrongCrc = true;
    s.sim->SendFileFromStation(6, content, wrongCrc);
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s, "文件:"); }, 10s));
    EXPECT_EQ(s.view.LineTexts()[1], "内容错误,大小 3000 bytes");

    s.view.ClearRecords();
    hostsim::FileSendOptions wrongSize;
    wrongSize.wrongSize = true;
    s.sim->SendFileFromStation(6, content, wrongSize);
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s, "文件:"); }, 10s));
    EXPECT_EQ(s.view.LineTexts()[1], "尺寸错误,大小 3000 bytes");
}

// The worker never waits for a person: with the box of a failed sending open (nobody
// closes it), a station's file is written whole with its verdict, and the same trouble
// again adds a record line but no second box.
TEST(ReceptionWithHostSim, FileArrivesWhileTheWorkersBoxIsOpen) {
    HostSimSession s("recv-box");
    s.view.onMessageBox = nullptr;
    s.sim->AddStations({5, 6});
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.EnterDataMode(5));
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 3s));
    // The host node names no receiver, nor asks for an activation.
    s.sim->With([](hostsim::HostNode &n) { n.Model().flagsOverride = 0; });
    ASSERT_TRUE(s.RunWindowUntil([&] { return s.State().hostFlags.load() == 0; }, 3s));
    const std::string noReceiver = "接收节点未指定      \r\n请检查后重新传输";
    const std::string path = s.WriteFile("out.bin", Pattern(100, 0x21));
    const auto failedSending = [&] {
        ASSERT_EQ(s.manager.PrepareSending(path), PrepareResult::Armed);
        ASSERT_TRUE(s.RunWindowUntil([&] { return s.SendingOver(); }, 5s)) << s.State().sendState.load();
    };
    failedSending();
    ASSERT_EQ(s.view.Boxes(), std::vector<std::string>{noReceiver});

    const auto content = Pattern(300, 0x44);
    s.sim->SendFileFromStation(6, content);
    ASSERT_TRUE(s.RunWindowUntil([&] { return HasLine(s, "文件:"); }, 10s))
        << ::testing::PrintToString(s.view.LineTexts());
    EXPECT_TRUE(HasLine(s, "接收成功,大小 300 bytes"));
    EXPECT_EQ(Contents(s.State().recvPath), content);

    failedSending();
    EXPECT_EQ(s.view.Boxes().size(), 1u) << "one open box of a text";
    const auto texts = s.view.LineTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("接收节点未指定,请检查后重新传输")), 2);
    s.manager.MessageBoxClosed(noReceiver);
    failedSending();
    EXPECT_EQ(s.view.Boxes().size(), 2u) << "shown again once closed";
}
