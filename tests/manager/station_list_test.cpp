// The station list: bitmaps, signal packets, a search's end, station events and their
// balloons.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include "manager/core/queue_pump.h"
#include "manager/core/station_events.h"
#include "manager/core/station_list.h"
#include "tests/manager/core_fixture.h"
#include "tests/manager/packet_records.h"

using namespace meradon;
using meradon_test::CoreFixture;
using meradon_test::SignalFrame;

namespace {

void SetBit(std::array<uint8_t, 128> &maps, int map, int station) {
    maps[map * 32 + station / 8] |= static_cast<uint8_t>(1 << (station % 8));
}

}  // namespace

TEST(StationList, BitmapsFillRowsOnceThenSelectChanges) {
    CoreFixture f("list");
    std::array<uint8_t, 128> maps{};
    SetBit(maps, 0, 8);    // station 8: bit 0 of byte 1
    SetBit(maps, 2, 8);
    SetBit(maps, 3, 255);  // station 255: last bit of each map
    maps[0] |= 1;          // station 0 does not exist and is never read
    RefreshStationList(f.core, maps.data());

    EXPECT_EQ(f.core.state.stationState[7].load(), STATION_ACTIVE | STATION_LINK);
    EXPECT_EQ(f.core.state.stationState[254].load(), STATION_SUSPENDED);
    EXPECT_EQ(f.view.Cell(7, kColumnActive), "√");
    EXPECT_EQ(f.view.Cell(7, kColumnOnline), "Х");
    EXPECT_EQ(f.view.Cell(7, kColumnLink), "√");
    EXPECT_EQ(f.view.Cell(7, kColumnSuspended), "Х");
    EXPECT_EQ(f.view.Cell(0, kColumnLink), "♂");
    EXPECT_EQ(f.view.Cell(254, kColumnSuspended), "√");
    EXPECT_TRUE(f.view.Selected().empty()) << "the first filling selects nothing";
    EXPECT_EQ(f.core.state.listPrimed.load(), 1u);

    f.view.ClearRecords();
    SetBit(maps, 1, 8);
    RefreshStationList(f.core, maps.data());
    EXPECT_EQ(f.view.Selected(), std::vector<int>{7});
    EXPECT_EQ(f.view.Cell(7, kColumnOnline), "√");
    EXPECT_EQ(f.view.CellCount(), 4u) << "only the changed row is redrawn";
}

TEST(StationList, SignalPacketsUpdateOneRow) {
    CoreFixture f("signal");
    const uint8_t signal[7] = {0x45, 12, 0xD0, 0x11, 0x22, 0x33, 0x44};
    ShowStationFromSignal(f.core, signal);
    EXPECT_EQ(f.view.Pictures(), std::vector<uint8_t>{0x45});
    EXPECT_EQ(f.core.state.stationState[11].load(), 0xD0);
    EXPECT_EQ(f.view.Cell(11, kColumnActive), "√");
    EXPECT_EQ(f.view.Cell(11, kColumnSuspended), "Х");
    EXPECT_EQ(f.view.Cell(11, kColumnPeerQuality), "44-33");
    EXPECT_EQ(f.view.Cell(11, kColumnOwnQuality), "22-11");
    EXPECT_EQ(f.core.state.lastSignal[11], (std::array<uint8_t, 4>{})) << "kept only in data mode";

    f.core.state.linkMode = LINK_DATA;
    f.view.ClearRecords();
    ShowStationFromSignal(f.core, signal);
    EXPECT_EQ(f.view.CellCount(), 2u) << "same state: only the quality is redrawn";
    EXPECT_EQ(f.core.state.lastSignal[11], (std::array<uint8_t, 4>{0x11, 0x22, 0x33, 0x44}));
    f.view.ClearRecords();
    ShowStationFromSignal(f.core, signal);
    EXPECT_EQ(f.view.CellCount(), 0u) << "same quality as last shown";
    const uint8_t sameQualityElsewhere[7] = {0x45, 13, 0xD0, 0x11, 0x22, 0x33, 0x44};
    ShowStationFromSignal(f.core, sameQualityElsewhere);
    EXPECT_EQ(f.view.Cell(12, kColumnPeerQuality), "44-33") << "another station's row is its own";
    f.view.ClearRecords();

    const uint8_t noStation[7] = {0x90, 0, 0xFF, 1, 2, 3, 4};
    ShowStationFromSignal(f.core, noStation);
    EXPECT_EQ(f.view.CellCount(), 0u);
    EXPECT_EQ(f.view.Pictures().size(), 1u) << "station 0 changes nothing";
}

namespace {

std::array<uint8_t, 240> EventPayload(uint8_t self, uint8_t a, uint8_t b, uint8_t cmd) {
    std::array<uint8_t, 240> p{};
    p[14] = self;
    p[154] = a;
    p[153] = b;
    p[151] = cmd;
    return p;
}

std::string BalloonOf(uint8_t event, const std::array<uint8_t, 240> &p, std::string *online = nullptr,
                      int row = 0) {
    CoreFixture f("event");
    ShowStationEvent(f.core, event, p.data());
    if (online) *online = f.view.Cell(row, kColumnOnline);
    auto balloons = f.view.Balloons();
    return balloons.empty() ? "<none>" : balloons.back();
}

}  // namespace

TEST(StationEvents, BalloonTextsAndOnlineMarks) {
    std::string mark;
    EXPECT_EQ(BalloonOf(1, EventPayload(3, 3, 9, 0xF4), &mark, 8), "站点 9 正在与本站联机...");
    EXPECT_EQ(mark, "Х");
    EXPECT_EQ(BalloonOf(2, EventPayload(3, 9, 3, 0xE0), &mark, 8), "本站与站点 9 联机完成!");
    EXPECT_EQ(mark, "√");
    EXPECT_EQ(BalloonOf(1, EventPayload(3, 3, 9, 0xD0)), "站点 9 与本站联机完成!");
    EXPECT_EQ(BalloonOf(3, EventPayload(3, 3, 9, 0xFF), &mark, 8), "本站正在与站点 9 联机...");
    EXPECT_EQ(mark, "Х");
    auto group = EventPayload(3, 3, 0, 0xF0);
    group[156] = 0x45;  // group 5
    EXPECT_EQ(BalloonOf(3, group), "本站正在与站点组 (40 ~ 47) 联机...");
    EXPECT_EQ(BalloonOf(3, EventPayload(3, 3, 9, 0xE0)), "站点 9 正在与本站联机...");
    EXPECT_EQ(BalloonOf(3, EventPayload(3, 3, 9, 0xD0)), "本站与站点 9 联机完成!");
    EXPECT_EQ(BalloonOf(2, EventPayload(3, 3, 9, 0x85), &mark, 8), "");
    EXPECT_EQ(mark, "<unset>");
    EXPECT_EQ(BalloonOf(5, EventPayload(3, 3, 9, 0)),
              "无线网络站点遇到故障被挂起.\r\n请注意：本站和操作被挂起站点之间的通讯将不再可靠！");
    EXPECT_EQ(BalloonOf(6, EventPayload(3, 3, 9, 0)),
              "本站与无线网络站点的联机请求超时，该站点被挂起.\r\n请注意：本站和操作被挂起站点之间的通讯将不再可靠！");
    EXPECT_EQ(BalloonOf(7, EventPayload(3, 3, 9, 0)),
              "本站与无线网络站点的休眠请求超时，该站点被挂起.\r\n请注意：本站和操作被挂起站点之间的通讯将不再可靠！");
    EXPECT_EQ(BalloonOf(12, EventPayload(3, 3, 9, 0xE0)), "");
    EXPECT_EQ(BalloonOf(4, EventPayload(3, 3, 9, 0xE0)), "<none>");
    EXPECT_EQ(BalloonOf(1, EventPayload(3, 8, 9, 0xE0)), "<none>") << "not about this station";
    // The other station 0 has no row: the balloon shows, no cell changes.
    CoreFixture f("event0");
    auto zero = EventPayload(3, 3, 0, 0xE0);
    ShowStationEvent(f.core, 1, zero.data());
    EXPECT_EQ(f.view.CellCount(), 0u);
}

namespace {

// The signal frame as the worker queues it, received now.
SignalRecord Received(CoreFixture &f, uint8_t station, const QualityValues &q, uint8_t code = 0x40) {
    return {SignalFrame(station, q, code), f.clock.NowMs(), f.clock.Local()};
}

}  // namespace

// A search whose end signal is lost ends half a second after its last answer; the window
// steps when that is due, with no fast timer to find it.
TEST(StationList, ASearchEndsHalfASecondAfterItsLastAnswer) {
    CoreFixture f("search");
    AppState &state = f.core.state;
    state.autoSaveTime = f.clock.NowMs();
    state.linkMode = LINK_SEARCH;
    state.lastRxTime = f.clock.NowMs();
    EXPECT_EQ(MsUntilDue(f.core), kSearchQuietMs);
    f.clock.Advance(300);
    state.signalQueue.Push(Received(f, 12, {1, 2, 3, 4}, 0x90));
    PumpQueues(f.core);
    EXPECT_EQ(state.stationState[11].load(), 0xD0);
    EXPECT_EQ(MsUntilDue(f.core), kSearchQuietMs) << "an answer puts the end off";

    f.clock.Advance(kSearchQuietMs - 1);
    PumpQueues(f.core);
    EXPECT_EQ(state.linkMode.load(), LINK_SEARCH);
    EXPECT_EQ(MsUntilDue(f.core), 1);
    f.clock.Advance(1);
    PumpQueues(f.core);
    EXPECT_EQ(state.linkMode.load(), LINK_WINDOW);
    EXPECT_TRUE(f.view.Enabled()[ControlId::DataMode]);
    EXPECT_GT(MsUntilDue(f.core), kSearchQuietMs) << "only the auto-save is left";
}

TEST(StationList, QualityHistoryKeepsADayAndTheDailyFilesKeepEveryPacket) {
    CoreFixture f("quality");
    // A run that ended in the middle of a line this morning.
    const std::string cutLine = "2024-05-06 09:12:40,5,1";
    std::filesystem::create_directories(f.dir);
    std::ofstream(f.dir / "link-quality 24-05-06.csv") << kQualityHeader << "\n" << cutLine;
    std::size_t sent = 0;
    auto report = [&](uint8_t station, int count, int64_t everyMs) {
        for (int i = 0; i < count; ++i, ++sent) {
            const QualityValues q{uint8_t(i), uint8_t(i >> 8), station, 0x4E};
            OnSignalPacket(f.core, Received(f, station, q));
            f.clock.Advance(everyMs);
        }
    };
    // Station 5 every 2 s for 30 hours; station 6 every 200 ms for 6 hours, faster than
    // the ring holds a day of; station 0 and the search end are no stations.
    report(5, 30 * 1800, 2000);
    report(6, 6 * 18000, 200);
    OnSignalPacket(f.core, Received(f, 0, {1, 2, 3, 4}));
    OnSignalPacket(f.core, Received(f, 0xFF, {1, 2, 3, 4}));

    const int64_t now = f.clock.NowMs();
    const auto five = f.core.quality.Since(5, kLongAgo);
    ASSERT_FALSE(five.empty());
    EXPECT_LE(five.back().timeMs - five.front().timeMs, QualityHistory::kSpanMs) << "trimmed as it reports";
    EXPECT_LE(five.size(), std::size_t(24 * 1800 + 1));
    EXPECT_EQ(f.core.quality.Count(6), QualityHistory::kCapacity);
    EXPECT_EQ(f.core.quality.Since(6, kLongAgo).back().values, (QualityValues{0xDF, 0xA5, 6, 0x4E}));
    EXPECT_EQ(f.core.quality.Since(6, now - 1000).size(), 4u) << "one every 200 ms";

    // Taken from the queue long after it arrived: kept as of its arrival.
    const SignalRecord late = Received(f, 7, {9, 9, 9, 9});
    f.clock.Advance(5000);
    OnSignalPacket(f.core, late);
    ++sent;
    ASSERT_EQ(f.core.quality.Count(7), 1u);
    EXPECT_EQ(f.core.quality.Since(7, kLongAgo).front().timeMs, late.timeMs);

    // One file per day (the test clock starts at 13:45 on 2024-05-06), each with a header.
    std::vector<std::string> days;
    for (const auto &entry : std::filesystem::directory_iterator(f.dir))
        days.push_back(entry.path().filename().string());
    std::sort(days.begin(), days.end());
    EXPECT_EQ(days, (std::vector<std::string>{"link-quality 24-05-06.csv", "link-quality 24-05-07.csv",
                                              "link-quality 24-05-08.csv"}));
    std::size_t lines = 0;
    for (const std::string &day : days) {
        std::ifstream in(f.dir / day);
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        EXPECT_EQ(line, kQualityHeader);
        if (day == days.front()) {
            ASSERT_TRUE(std::getline(in, line));
            EXPECT_EQ(line, cutLine) << "continued on a line of its own";
        }
        while (std::getline(in, line)) {
            auto row = ParseQualityLine(line);
            ASSERT_TRUE(row) << line;
            if (lines == 0) {
                EXPECT_EQ(row->time, "2024-05-06 13:45:10");
                EXPECT_EQ(row->station, 5);
                EXPECT_EQ(row->values, (QualityValues{0, 0, 5, 0x4E}));
            }
            ++lines;
        }
    }
    EXPECT_EQ(lines, sent);
}
