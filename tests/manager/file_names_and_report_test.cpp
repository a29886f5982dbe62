// Names of the files the manager writes, and the report lines of a sending.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "manager/core/operation_record.h"
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

// A disk that stays full must not fill the memory of a gateway left alone for months: the
// newest lines wait, the oldest go, and the next save that works writes what waited.
TEST(OperationRecordSave, AnUnwritableRecordKeepsItsNewestLines) {
    const auto base = std::filesystem::temp_directory_path() / ("meradon-record-" + std::to_string(::getpid()));
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    { FileHandle blocker(std::fopen((base / "file").c_str(), "wb")); }
    const OutputDirectory unwritable(base / "file" / "out");
    OperationRecord record;
    constexpr std::size_t kExtra = 5;
    for (std::size_t i = 0; i < OperationRecord::kMostWaiting + kExtra; ++i)
        record.Add("line " + std::to_string(i), LineStyle::Stamped, kTime);
    EXPECT_TRUE(record.SaveAndForget(unwritable, "udp", kTime).empty());
    EXPECT_EQ(record.Size(), OperationRecord::kMostWaiting);
    EXPECT_EQ(record.TakeDropped(), kExtra);
    EXPECT_EQ(record.TakeDropped(), 0u);

    const std::filesystem::path saved = record.SaveAndForget(OutputDirectory(base / "out"), "udp", kTime);
    ASSERT_FALSE(saved.empty());
    std::ifstream in(saved, std::ios::binary);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "[13:45:10] line " + std::to_string(kExtra) + "\r");
    EXPECT_EQ(record.Size(), 0u);
    std::filesystem::remove_all(base);
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
