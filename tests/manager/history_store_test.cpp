// The history store: what the core learns in a run is there after a restart, a new store
// takes in the earlier quality files once, old samples and lines go while sendings stay,
// and a store that cannot be written is said once and written when it can.
#include <gtest/gtest.h>

#include <fstream>

#include "manager/core/history/database.h"
#include "manager/core/history/history_reader.h"
#include "manager/core/history/schema.h"
#include "manager/core/queue_pump.h"
#include "manager/core/station_list.h"
#include "tests/manager/core_fixture.h"
#include "tests/manager/packet_records.h"
#include "tevrolink/tevrolink.h"

using namespace meradon;
using meradon_test::CoreFixture;
using meradon_test::DataPacket;
using meradon_test::InfoPacket;
using meradon_test::kHead;
using meradon_test::kTail;
using meradon_test::SignalFrame;

namespace {

std::filesystem::path StoreFile(const std::filesystem::path &dir) { return dir / kHistoryFileName; }

std::vector<std::string> RecordLinesIn(const std::filesystem::path &dir) {
    Database db(StoreFile(dir), Database::Access::ReadOnly);
    Statement query(db, "SELECT text FROM record_lines ORDER BY id");
    std::vector<std::string> lines;
    while (query.Step()) lines.push_back(query.Text(0));
    return lines;
}

int64_t Count(const std::filesystem::path &dir, const std::string &table) {
    Database db(StoreFile(dir), Database::Access::ReadOnly);
    return db.QueryInt("SELECT count(*) FROM " + table).value_or(-1);
}

std::size_t LinesStartingWith(const std::vector<std::string> &lines, const std::string &start) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) {
        return l.rfind(start, 0) == 0;
    }));
}

std::array<uint8_t, kStations> Active(std::initializer_list<int> stations) {
    std::array<uint8_t, kStations> states{};
    for (int s : stations) states[s - 1] = STATION_ACTIVE | STATION_ONLINE;
    return states;
}

}  // namespace

TEST(HistoryStore, WhatTheCoreLearntIsReadBackAfterARestart) {
    CoreFixture f("history");
    std::filesystem::create_directories(f.dir);
    const std::string sent = (f.dir / "image.bin").string();
    std::ofstream(sent) << std::string(1000, 'x');
    const uint32_t sentCrc = QuickFileCRC32(sent.c_str());

    f.core.OpenHistory();
    ASSERT_TRUE(f.core.history.Flush());
    // A broadcast to 3 and 9 in which 9 stayed suspended, then its resend, cut off.
    auto states = Active({3, 9});
    const int first = f.core.sendings.Begin(sent, 1000, sentCrc, 0, false, 0, f.clock.Local(), f.clock.NowMs(), states);
    f.clock.Advance(4500);
    states[8] |= STATION_SUSPENDED;
    f.core.sendings.Report(0, 0, states, f.clock.NowMs());
    f.core.sendings.Begin(sent, 1000, sentCrc, 9, false, first, f.clock.Local(), f.clock.NowMs(), states);
    f.core.sendings.EndEarly(StationOutcome::LinkLost, f.clock.NowMs() + 700);
    // Station 7 sends a file of 300 bytes; station 5 reports its link.
    const std::vector<uint8_t> head(200, 1), tail(100, 2);
    std::vector<uint8_t> whole = head;
    whole.insert(whole.end(), tail.begin(), tail.end());
    for (const auto &p : {InfoPacket(7, 300, QuickCRC32(whole.data(), 300)), DataPacket(7, kHead, head),
                          DataPacket(7, kTail, tail)})
        f.core.state.dataQueue.Push(p);
    PumpQueues(f.core);
    OnSignalPacket(f.core, {SignalFrame(5, {0x81, 0x82, 0x43, 0x44}), f.clock.NowMs(), f.clock.Local()});
    ASSERT_TRUE(f.core.history.Flush());
    f.core.history.Close();

    // The next run continues the same store.
    f.clock.Advance(60'000);
    Core next(f.view, f.clock, f.dir);
    next.OpenHistory();
    next.sendings.Begin(sent, 1000, sentCrc, 3, false, 0, f.clock.Local(), f.clock.NowMs(), states);
    ASSERT_TRUE(next.history.Flush());
    next.history.Close();

    HistoryReader reader(StoreFile(f.dir));
    const std::vector<StoredSending> all = reader.Sendings({});
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].record.stations, (std::vector<StationResult>{{3, StationOutcome::Pending}}))
        << "newest first";
    EXPECT_FALSE(all[0].record.Ended());
    const SendingRecord &broadcast = all[2].record, &resend = all[1].record;
    EXPECT_EQ(broadcast.mode, SendMode::Broadcast);
    EXPECT_EQ(broadcast.path, sent);
    EXPECT_EQ(all[2].crc, sentCrc);
    EXPECT_EQ(all[2].start, EpochSeconds({2024, 5, 6, 13, 45, 10}));
    EXPECT_EQ(broadcast.durationMs, 4500);
    EXPECT_EQ(broadcast.stations, (std::vector<StationResult>{{3, StationOutcome::Succeeded},
                                                              {9, StationOutcome::Suspended}}));
    EXPECT_EQ(resend.repeats, broadcast.id);
    EXPECT_EQ(resend.durationMs, 700);
    EXPECT_EQ(resend.stations, (std::vector<StationResult>{{9, StationOutcome::LinkLost}}));
    EXPECT_EQ(reader.Sendings({kFromTheStart, 9, true}).size(), 2u);
    EXPECT_EQ(reader.Sendings({kFromTheStart, 3, true}).size(), 0u);
    EXPECT_EQ(reader.Sendings({EpochSeconds(f.clock.Local()), 0, false}).size(), 1u);

    const std::vector<StoredReception> received = reader.Receptions(kFromTheStart, 7);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].size, 300u);
    EXPECT_EQ(received[0].announcedSize, 300u);
    EXPECT_EQ(received[0].verdict, "received");
    EXPECT_EQ(std::filesystem::path(received[0].path).parent_path(), f.dir);
    EXPECT_TRUE(reader.Receptions(kFromTheStart, 5).empty());

    const std::vector<StoredQuality> quality = reader.Quality(5, kFromTheStart, kUntilNow);
    ASSERT_EQ(quality.size(), 1u);
    EXPECT_EQ(quality[0].values, (QualityValues{0x81, 0x82, 0x43, 0x44}));
    EXPECT_EQ(quality[0].time, EpochSeconds({2024, 5, 6, 13, 45, 14}));

    EXPECT_EQ(reader.StillFailed(broadcast.id), (std::vector<uint8_t>{9}));

    // Station 9 gets another file, then the same one: only the same file settles it.
    const std::string other = (f.dir / "other.bin").string();
    std::ofstream(other) << std::string(1000, 'y');
    Core third(f.view, f.clock, f.dir);
    third.OpenHistory();
    for (const std::string &file : {other, sent}) {
        third.sendings.Begin(file, 1000, QuickFileCRC32(file.c_str()), 9, false, 0, f.clock.Local(), f.clock.NowMs(), states);
        third.sendings.Report(9, 0, states, f.clock.NowMs());
        ASSERT_TRUE(third.history.Flush());
        EXPECT_EQ(reader.StillFailed(broadcast.id).empty(), file == sent) << file;
    }
    // This run's own sendings are judged alike: the same path with other content there
    // does not settle a failure, the same content under another path does.
    const uint32_t otherCrc = QuickFileCRC32(other.c_str());
    const auto sendTo9 = [&](const std::string &file, uint32_t crc, uint8_t hostFlags) {
        const int id = third.sendings.Begin(file, 1000, crc, 9, false, 0, f.clock.Local(), f.clock.NowMs(), states);
        third.sendings.Report(9, hostFlags, states, f.clock.NowMs());
        return id;
    };
    const int missed = sendTo9(other, otherCrc, HOST_RECEIVER_SUSPENDED);
    sendTo9(other, sentCrc, 0);
    EXPECT_EQ(third.sendings.FailedStations(missed), (std::vector<uint8_t>{9}));
    sendTo9((f.dir / "copy.bin").string(), otherCrc, 0);
    EXPECT_TRUE(third.sendings.FailedStations(missed).empty());
    third.history.Close();

    const std::vector<std::string> lines = RecordLinesIn(f.dir);
    EXPECT_EQ(LinesStartingWith(lines, "[13:45:14] 接收成功,大小 300 bytes"), 1u);
}

TEST(HistoryStore, ANewStoreTakesInTheQualityFilesOnce) {
    CoreFixture f("history-import");
    std::filesystem::create_directories(f.dir);
    {
        std::ofstream day(f.dir / "link-quality 24-05-05.csv");
        day << kQualityHeader << "\n"
            << QualityLine({2024, 5, 5, 8, 0, 0}, 4, {1, 2, 3, 4}) << "\n"
            << "not a quality line\n"
            << QualityLine({2024, 5, 5, 8, 0, 8}, 4, {5, 6, 7, 8}) << "\n";
        std::ofstream today(f.dir / "link-quality 24-05-06.csv");
        today << kQualityHeader << "\n"
              << QualityLine({2024, 5, 6, 13, 0, 0}, 9, {9, 9, 9, 9}) << "\n"
              // Written after the store opened: the store has it from the run itself.
              << QualityLine({2024, 5, 6, 13, 45, 11}, 9, {1, 1, 1, 1}) << "\n";
    }
    // An empty file where the store goes is a store of no version yet.
    std::ofstream(StoreFile(f.dir)).close();
    for (int run = 0; run < 2; ++run) {
        f.core.OpenHistory();
        ASSERT_TRUE(f.core.history.Flush());
        f.core.history.Close();
    }
    EXPECT_EQ(Count(f.dir, "quality"), 3);
    HistoryReader reader(StoreFile(f.dir));
    EXPECT_EQ(reader.Quality(4, kFromTheStart, kUntilNow).back().values, (QualityValues{5, 6, 7, 8}));
    EXPECT_EQ(LinesStartingWith(f.view.LineTexts(), "已导入链路质量记录"), 1u) << "once";
    EXPECT_EQ(LinesStartingWith(f.view.LineTexts(), "已导入链路质量记录 3 条"), 1u);
    Database db(StoreFile(f.dir), Database::Access::ReadOnly);
    EXPECT_EQ(db.QueryInt("PRAGMA user_version"), kHistorySchemaVersion);
    Statement mode(db, "PRAGMA journal_mode");
    ASSERT_TRUE(mode.Step());
    EXPECT_EQ(mode.Text(0), "wal");
}

TEST(HistoryStore, AFirstVersionStoreIsBroughtUpToDateAndThinnedForAPlot) {
    CoreFixture f("history-migrate");
    std::filesystem::create_directories(f.dir);
    const int64_t start = 1'700'000'040;  // a minute's start
    {
        // Two days of station 4 every 8 s, its first value alternating 0 and 100.
        Database v1(StoreFile(f.dir), Database::Access::ReadWrite);
        PrepareHistorySchema(v1, {}, 1);
        v1.Exec("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 21599) "
                "INSERT INTO quality SELECT " + std::to_string(start) + " + i * 8, 4, i % 2 * 100, 50, 60, 70 FROM n");
    }
    HistoryOptions options;
    options.nowSeconds = [&] { return start + 3 * 24 * 3600; };
    HistoryStore store;
    store.Open(f.dir, options);
    store.Add(QualityFact{LocalFromEpoch(start + 2 * 24 * 3600 + 60), 4, {100, 50, 60, 70}});
    ASSERT_TRUE(store.Flush());
    store.Close();

    Database db(StoreFile(f.dir), Database::Access::ReadOnly);
    EXPECT_EQ(db.QueryInt("PRAGMA user_version"), kHistorySchemaVersion);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM outbox"), 0);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM quality_minutes WHERE station = 4"), 2 * 1440 + 1);
    EXPECT_EQ(db.QueryInt("SELECT sum(samples) FROM quality_minutes"), 21601);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM quality_hours WHERE station = 4"), 2 * 24 + 1);
    EXPECT_EQ(db.QueryInt("SELECT sum(samples) FROM quality_hours"), 21601);

    HistoryReader reader(StoreFile(f.dir));
    const std::vector<StoredQuality> days = reader.ThinnedQuality(4, kFromTheStart, kUntilNow, 100);
    ASSERT_GE(days.size(), 95u);
    ASSERT_LE(days.size(), 100u);
    EXPECT_EQ(days.front().time, start);
    for (const StoredQuality &q : days) EXPECT_EQ(q.values, (QualityValues{50, 50, 60, 70})) << q.time;
    const std::vector<StoredQuality> hours = reader.ThinnedQuality(4, kFromTheStart, kUntilNow, 10);
    ASSERT_EQ(hours.size(), 10u);
    EXPECT_EQ(hours[9].values, (QualityValues{50, 50, 60, 70}));
    const StoredQualityFigures figures = reader.QualityFigures(4, kFromTheStart, kUntilNow);
    EXPECT_EQ(figures.count, 21601);
    EXPECT_EQ(figures.min, (QualityValues{0, 50, 60, 70}));
    EXPECT_EQ(figures.max, (QualityValues{100, 50, 60, 70}));
    EXPECT_NEAR(figures.mean[0], 50, 0.01);
    EXPECT_EQ(figures.last.time, start + 2 * 24 * 3600 + 60);
    // Ten minutes on a plot of a thousand points: every sample as it is.
    const std::vector<StoredQuality> minutes = reader.ThinnedQuality(4, start, start + 600, 1000);
    ASSERT_EQ(minutes.size(), 76u);
    EXPECT_EQ(minutes[1].time, start + 8);
    EXPECT_EQ(minutes[1].values[0], 100);
    EXPECT_EQ(minutes[2].values[0], 0);
}

TEST(HistoryStore, RetentionDeletesOldSamplesAndLinesAndKeepsSendingsAndReceptions) {
    const auto dir = meradon_test::FreshDirectory("history-retention");
    const LocalTime now{2026, 3, 1, 12, 0, 0};
    const LocalTime old = LocalFromEpoch(EpochSeconds(now) - 401 * 24 * 3600);
    const LocalTime recent = LocalFromEpoch(EpochSeconds(now) - 399 * 24 * 3600);
    HistoryOptions options;
    options.nowSeconds = [&] { return EpochSeconds(now); };
    {
        HistoryStore store;
        store.Open(dir, options);
        int id = 0;
        for (const LocalTime &t : {old, recent}) {
            SendingRecord sending;
            sending.id = ++id;
            sending.path = "/nowhere/file.bin";
            sending.start = t;
            sending.stations = {{2, StationOutcome::Succeeded}};
            store.Add(SendingFact{sending});
            store.Add(ReceptionFact{2, "/nowhere/2.txt", 10, std::nullopt, "unannounced", t, t});
            store.Add(QualityFact{t, 2, {1, 2, 3, 4}});
            store.Add(RecordLineFact{t, "[12:00:00] line"});
        }
        ASSERT_TRUE(store.Flush());
    }
    HistoryStore reopened;  // the daily deletion runs when the store opens
    reopened.Open(dir, options);
    ASSERT_TRUE(reopened.Flush());
    reopened.Close();
    EXPECT_EQ(Count(dir, "quality"), 1);
    EXPECT_EQ(Count(dir, "quality_minutes"), 1);
    EXPECT_EQ(Count(dir, "record_lines"), 1);
    EXPECT_EQ(Count(dir, "sendings"), 2);
    EXPECT_EQ(Count(dir, "sending_stations"), 2);
    EXPECT_EQ(Count(dir, "receptions"), 2);
    HistoryReader reader(StoreFile(dir));
    EXPECT_EQ(reader.Quality(2, kFromTheStart, kUntilNow).at(0).time, EpochSeconds(recent));
    std::filesystem::remove_all(dir);
}

// Within its bound the outbox keeps the newest messages, counting what acknowledgements
// freed, also once the store is opened again.
TEST(HistoryStore, TheOutboxDropsItsOldestMessagesBeyondItsBound) {
    const auto dir = meradon_test::FreshDirectory("history-outbox");
    const LocalTime t{2026, 3, 1, 12, 0, 0};
    const OutboxFact message{t, "a/b/c", std::string(95, 'x'), 350};  // 100 bytes of 350
    auto sequences = [&] {
        Database db(StoreFile(dir), Database::Access::ReadOnly);
        Statement query(db, "SELECT sequence FROM outbox ORDER BY sequence");
        std::vector<int64_t> found;
        while (query.Step()) found.push_back(query.Int(0));
        return found;
    };
    {
        HistoryStore store;
        store.Open(dir, {});
        for (int i = 0; i < 5; ++i) store.Add(message);
        ASSERT_TRUE(store.Flush());
        EXPECT_EQ(sequences(), (std::vector<int64_t>{3, 4, 5}));
        store.Add(OutboxAcknowledgedFact{{4}});
        store.Add(message);  // room for it
        ASSERT_TRUE(store.Flush());
        EXPECT_EQ(sequences(), (std::vector<int64_t>{3, 5, 6}));
    }
    HistoryStore store;
    store.Open(dir, {});
    store.Add(message);  // the oldest goes
    ASSERT_TRUE(store.Flush());
    store.Close();
    EXPECT_EQ(sequences(), (std::vector<int64_t>{5, 6, 7}));
    std::filesystem::remove_all(dir);
}

TEST(HistoryStore, ALockedStoreIsSaidOnceAndWrittenWhenFree) {
    CoreFixture f("history-locked");
    HistoryOptions options;
    options.retryAfter = std::chrono::milliseconds(10);
    options.queueLimit = 3;
    std::vector<std::string> said;
    options.report = [&](const std::string &line) { said.push_back(line); };
    HistoryStore store;
    store.Open(f.dir, options);
    ASSERT_TRUE(store.Flush());

    Database other(StoreFile(f.dir), Database::Access::ReadWrite);
    other.Exec("BEGIN IMMEDIATE");
    const LocalTime t = f.clock.Local();
    store.Add(QualityFact{t, 1, {1, 1, 1, 1}});
    EXPECT_FALSE(store.Flush());
    for (uint8_t v = 2; v <= 5; ++v) store.Add(QualityFact{t, 1, {v, v, v, v}});
    EXPECT_FALSE(store.Flush());
    other.Exec("COMMIT");
    EXPECT_TRUE(store.Flush());
    store.Close();

    EXPECT_EQ(Count(f.dir, "quality"), 3) << "the queue holds three; two were dropped";
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0].rfind("历史记录无法写入(", 0), 0u) << said[0];
    EXPECT_EQ(said[1], "历史记录恢复写入");
    EXPECT_EQ(said[2], "历史记录队列已满,2 条未能保存");
}
