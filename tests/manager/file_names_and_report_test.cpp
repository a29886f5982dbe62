// Names of the files the manager writes, and the report lines of a sending.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "manager/core/output_directory.h"
#include "manager/core/send_report.h"

using namespace meradon;

namespace {
const LocalTime kTime{2024, 5, 6, 13, 45, 10};
}

TEST(FileNames, FromAddressAndFromPortPath) {
    EXPECT_EQ(ReceiveFileName("192.168.1.20", 5, kTime), "192.168.1.20-5 24-05-06 13-45-10.txt");
    EXPECT_EQ(TraceFileName("192.168.1.20", kTime), "192.168.1.20 24-05-06 13-45-10.log");
    EXPECT_EQ(ReceiveFileName("/dev/ttyUSB0", 254, kTime), "ttyUSB0-254 24-05-06 13-45-10.txt");
    EXPECT_EQ(TraceFileName("pts/3", kTime), "3 24-05-06 13-45-10.log");
}

TEST(FileNames, NoNameLeavesTheDirectory) {
    for (const char *selector : {"../../etc/passwd", "..", "/", "a/..", "", "x/../../.."}) {
        for (const std::string &name :
             {ReceiveFileName(selector, 1, kTime), TraceFileName(selector, kTime)}) {
            EXPECT_EQ(name.find('/'), std::string::npos) << selector;
            EXPECT_NE(name, "..");
            EXPECT_LE(name.size(), 255u);
        }
    }
    std::string longSelector(400, 'x');
    std::string name = ReceiveFileName(longSelector, 200, kTime);
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - 26), "-200 24-05-06 13-45-10.txt") ;
}

TEST(FileNames, OutputDirectoryIsCreatedAndKeepsFilesInside) {
    auto dir = std::filesystem::temp_directory_path() /
               ("meradon-out-" + std::to_string(::getpid())) / "nested";
    std::filesystem::remove_all(dir.parent_path());
    OutputDirectory out(dir);
    EXPECT_TRUE(out.Path().is_absolute());
    EXPECT_FALSE(out.Open("..", "wb"));
    EXPECT_FALSE(out.Open("a/b", "wb"));
    FileHandle file = out.Open(TraceFileName("/dev/pts/7", kTime), "wb");
    ASSERT_TRUE(file);
    EXPECT_TRUE(std::filesystem::exists(dir / "7 24-05-06 13-45-10.log"));
    std::filesystem::remove_all(dir.parent_path());
}

TEST(SendReport, SingleStationByHostFlags) {
    std::array<uint8_t, kStations> none{};
    EXPECT_EQ(ReportLines(5, 0x80, none, 3),
              (std::vector<std::string>{"总计: 1 个节点", "成功: 5", "用时: 00 时 00 分 03 秒"}));
    EXPECT_EQ(ReportLines(5, 0x84, none, 3)[1], "失败: 5");
}

TEST(SendReport, BroadcastByStationStates) {
    std::array<uint8_t, kStations> states{};
    states.fill(0xFF & ~0x80);  // unknown stations without the active bit do not count
    states[0] = 0x80;           // station 1 succeeded
    states[11] = 0xC4;          // station 12 suspended
    states[254] = 0x90;         // station 255 succeeded
    states[99] = 0x84;          // station 100 suspended
    EXPECT_EQ(ReportLines(0, 0x84, states, 3600 * 125 + 61),
              (std::vector<std::string>{"总计: 4 个节点", "成功: 1,255", "失败: 12,100",
                                        "用时: 125 时 01 分 01 秒"}));
    std::array<uint8_t, kStations> idle{};
    EXPECT_EQ(ReportLines(0, 0, idle, 59),
              (std::vector<std::string>{"总计: 0 个节点", "用时: 00 时 00 分 59 秒"}));
}
