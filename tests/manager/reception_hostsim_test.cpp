// Files that hostsim's stations send to the PC, through the worker, the data queue and
// the window's step.
#include <gtest/gtest.h>

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
