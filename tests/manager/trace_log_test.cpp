// Debug packets as the worker handles them: the trace file, its hourly renewal, and the
// station list fed from kind-1 packets.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>

#include "manager/core/debug_packets.h"
#include "manager/core/trace_format.h"
#include "tests/manager/core_fixture.h"

using namespace meradon;
using meradon_test::CoreFixture;

namespace {

std::array<uint8_t, 240> KindOnePayload() {
    std::array<uint8_t, 240> p{};
    p[14] = 1;   // self
    p[154] = 1;  // A
    p[153] = 6;  // B
    p[17] = 0xA1;
    p[18] = 0xB2;
    p[19] = 0xC3;
    p[20] = 0xD4;
    p[kDebugBitmaps + 0] = 0x40;  // station 6 active
    return p;
}

std::string Contents(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(TraceLog, WrittenOnlyWhileTheBoxIsChecked) {
    CoreFixture f("trace-off");
    auto p = KindOnePayload();
    HandleDebugPayload(f.core, 1, 1, p.data());
    EXPECT_FALSE(f.core.state.traceFile.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(f.dir));
    // The station list is fed all the same.
    EXPECT_EQ(f.core.state.stationState[5].load(), STATION_ACTIVE);
    EXPECT_EQ(f.view.Cell(0, kColumnPeerQuality), "B2-D4");
    EXPECT_EQ(f.view.Cell(0, kColumnOwnQuality), "A1-C3");
}

TEST(TraceLog, HourlyFilesKeepEveryRecord) {
    CoreFixture f("trace-rotate");
    f.view.Check(ControlId::TraceOutput);
    f.view.SetSelector("/dev/ttyS1");
    auto p = KindOnePayload();
    const std::string first = FormatTraceLong(1, p.data(), f.clock.Local());
    HandleDebugPayload(f.core, 1, 1, p.data());
    const auto firstPath = f.dir / "ttyS1 24-05-06 13-45-10.log";
    EXPECT_EQ(Contents(firstPath), first);

    f.clock.Advance(3'600'000);  // one hour exactly: same file
    const std::string second = FormatTraceShort(4, p.data(), f.clock.Local());
    HandleDebugPayload(f.core, 2, 4, p.data());
    EXPECT_EQ(Contents(firstPath), first + second);

    f.clock.Advance(1);  // now older than an hour: the record goes into a new file
    const std::string third = FormatTraceShort(9, p.data(), f.clock.Local());
    HandleDebugPayload(f.core, 2, 9, p.data());
    EXPECT_EQ(Contents(firstPath), first + second);
    EXPECT_EQ(Contents(f.dir / "ttyS1 24-05-06 14-45-10.log"), third);
}

TEST(TraceLog, CreationFailureIsReportedForEachPacket) {
    CoreFixture f("trace-fail");
    f.view.Check(ControlId::TraceOutput);
    std::filesystem::create_directories(f.dir.parent_path());
    { std::ofstream blocker(f.dir); }
    auto p = KindOnePayload();
    HandleDebugPayload(f.core, 2, 1, p.data());
    HandleDebugPayload(f.core, 2, 1, p.data());
    EXPECT_EQ(f.view.LineTexts(),
              (std::vector<std::string>{"创建文件失败,请检查权限", "创建文件失败,请检查权限"}));
    std::filesystem::remove(f.dir);
}
