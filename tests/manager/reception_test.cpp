// Files that stations send: verdicts, file names, counters and time-out, as the window's
// step takes data packets from the queue.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "manager/core/queue_pump.h"
#include "tests/manager/core_fixture.h"
#include "tests/manager/packet_records.h"
#include "tevrolink/tevrolink.h"

using namespace meradon;
using meradon_test::CoreFixture;
using meradon_test::RecordLine;
using meradon_test::DataPacket;
using meradon_test::InfoPacket;
using meradon_test::kHead;
using meradon_test::kTail;

namespace {

uint32_t Crc(const std::vector<uint8_t> &bytes) {
    return QuickCRC32(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> Bytes(std::size_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// Queues the packets as the worker would and runs the window's step until they are taken.
void Deliver(CoreFixture &f, const std::vector<PacketRecord> &packets) {
    for (auto &p : packets) f.core.state.dataQueue.Push(p);
    f.core.state.lastRxTime = f.clock.NowMs();
    PumpQueues(f.core);
}

std::vector<uint8_t> FileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(Reception, AnnouncedFileIsStoredAndJudged) {
    CoreFixture f("rx-ok");
    f.view.SetSelector("/dev/pts/4");
    auto head = Bytes(200, 1), middle = Bytes(200, 2), tail = Bytes(57, 3);
    std::vector<uint8_t> whole = head;
    whole.insert(whole.end(), middle.begin(), middle.end());
    whole.insert(whole.end(), tail.begin(), tail.end());
    Deliver(f, {InfoPacket(7, 457, Crc(whole)), DataPacket(7, kHead, head), DataPacket(7, 0, middle),
                DataPacket(7, kTail, tail)});

    const std::string path = (f.dir / "4-7 24-05-06 13-45-10.txt").string();
    EXPECT_EQ(f.view.LineTexts(), (std::vector<std::string>{"开始接收,大小 457 bytes",
                                                            "接收成功,大小 457 bytes",
                                                            "文件:" + path}));
    EXPECT_EQ(f.view.Lines()[2].style, LineStyle::Indented);
    EXPECT_EQ(FileBytes(path), whole);
    EXPECT_EQ(f.core.state.rxBytes[7], 457u);
    EXPECT_EQ(f.view.Cell(6, kColumnData), "457");
    EXPECT_FALSE(f.core.state.recvFile);
    EXPECT_EQ(f.core.state.recvAnnounced, 0);

    // A second file within the same second is named apart; the first stays as it was.
    f.view.ClearRecords();
    const auto next = Bytes(90, 4);
    Deliver(f, {InfoPacket(7, 90, Crc(next)), DataPacket(7, kHead | kTail, next)});
    const std::string second = (f.dir / "4-7 24-05-06 13-45-10 (2).txt").string();
    EXPECT_EQ(f.view.LineTexts(), (std::vector<std::string>{"开始接收,大小 90 bytes",
                                                            "接收成功,大小 90 bytes",
                                                            "文件:" + second}));
    EXPECT_EQ(FileBytes(second), next);
    EXPECT_EQ(FileBytes(path), whole);
}

TEST(Reception, VerdictsOfSizeAndContent) {
    struct Case {
        uint32_t announcedSize;
        int crcDelta;  // added to the true CRC
        bool crcUnknown;
        const char *verdict;
    } cases[] = {
        {99, 0, false, "尺寸错误,大小 100 bytes"},
        {100, 1, false, "内容错误,大小 100 bytes"},
        {100, 0, true, "原文未校验,大小 100 bytes"},
    };
    for (const Case &c : cases) {
        CoreFixture f("rx-verdict");
        auto data = Bytes(100, 9);
        uint32_t crc = c.crcUnknown ? 0xFFFFFFFF : Crc(data) + c.crcDelta;
        Deliver(f, {InfoPacket(3, c.announcedSize, crc), DataPacket(3, kHead | kTail, data)});
        ASSERT_EQ(f.view.LineTexts().size(), 3u);
        EXPECT_EQ(f.view.LineTexts()[1], c.verdict);
    }
}

TEST(Reception, UnannouncedFilesAndAbnormalEnds) {
    CoreFixture f("rx-plain");
    // No info packet, one packet with head and tail: opened, written, closed at once.
    Deliver(f, {DataPacket(2, kHead | kTail, Bytes(10, 0))});
    EXPECT_EQ(f.view.LineTexts()[0], "接收完成");
    EXPECT_FALSE(f.core.state.recvFile);

    // A head while a file is open closes it; the counter restarts for that station.
    f.view.ClearRecords();
    Deliver(f, {DataPacket(2, kHead, Bytes(30, 0)), DataPacket(2, kHead, Bytes(20, 0))});
    EXPECT_EQ(f.view.LineTexts(), std::vector<std::string>{"文件异常关闭,大小 30 bytes"});
    EXPECT_EQ(f.core.state.rxBytes[2], 20u);

    // Two stations at once share the open file but keep their own counters.
    Deliver(f, {DataPacket(9, 0, Bytes(15, 0)), DataPacket(2, 0, Bytes(5, 0))});
    EXPECT_EQ(f.core.state.rxBytes[2], 25u);
    EXPECT_EQ(f.core.state.rxBytes[9], 15u);
    EXPECT_EQ(f.view.Cell(8, kColumnData), "15");

    // An info packet also ends the open file, and announces the next.
    Deliver(f, {InfoPacket(9, 5, 0)});
    EXPECT_EQ(f.view.LineTexts().back(), "开始接收,大小 5 bytes");
    EXPECT_EQ(f.view.LineTexts()[f.view.LineTexts().size() - 2], "文件异常关闭,大小 40 bytes");
    EXPECT_EQ(f.core.state.rxBytes[9], 0u);
}

TEST(Reception, TimeOutAfterThirtySecondsWithoutData) {
    CoreFixture f("rx-timeout");
    f.core.state.autoSaveTime = f.clock.NowMs();
    Deliver(f, {InfoPacket(4, 500, 0), DataPacket(4, kHead, Bytes(120, 0))});
    // The window steps when the time-out is due, not on a fast timer.
    EXPECT_EQ(MsUntilDue(f.core), 30'001);
    f.clock.Advance(30'000);
    PumpQueues(f.core);
    EXPECT_TRUE(f.core.state.recvFile) << "30 s exactly is not yet a time-out";
    EXPECT_EQ(MsUntilDue(f.core), 1);
    f.clock.Advance(1);
    EXPECT_EQ(MsUntilDue(f.core), 0);
    PumpQueues(f.core);
    EXPECT_FALSE(f.core.state.recvFile);
    EXPECT_EQ(f.view.LineTexts().back(), "接收超时,大小 120 bytes");
    EXPECT_EQ(f.core.state.recvAnnounced, 0);
    EXPECT_EQ(MsUntilDue(f.core), kAutoSaveMs + 1 - 30'001) << "no file: only the auto-save is due";

    // A tail with no open file: no verdict, but the file line names the last path.
    f.view.ClearRecords();
    Deliver(f, {DataPacket(4, kTail, Bytes(3, 0))});
    ASSERT_EQ(f.view.LineTexts().size(), 2u);
    EXPECT_EQ(f.view.LineTexts()[0], "接收完成") << "the tail opened a new file itself";
}

TEST(Reception, FileThatCannotBeCreatedIsReportedAndRetried) {
    CoreFixture f("rx-fail");
    std::filesystem::create_directories(f.dir.parent_path());
    {
        std::ofstream blocker(f.dir);  // a plain file where the directory should be
    }
    Deliver(f, {DataPacket(6, kHead, Bytes(10, 0)), DataPacket(6, 0, Bytes(10, 0))});
    EXPECT_EQ(f.view.LineTexts(),
              (std::vector<std::string>{"创建文件失败,请检查权限", "创建文件失败,请检查权限"}));
    EXPECT_EQ(f.view.Lines()[0].style, LineStyle::Stamped);
    EXPECT_EQ(f.core.state.rxBytes[6], 20u) << "bytes are counted though not stored";
    std::filesystem::remove(f.dir);
}

TEST(Reception, StationZeroAndOverlongLengthsStayInBounds) {
    CoreFixture f("rx-bounds");
    PacketRecord odd = DataPacket(0, kHead | kTail, Bytes(240, 0));
    odd[5] = 255;  // claims more than a record holds
    Deliver(f, {odd});
    EXPECT_EQ(f.core.state.rxBytes[0], 240u);
    EXPECT_EQ(f.view.CellCount(), 0u) << "station 0 has no row";
    EXPECT_TRUE(f.view.Selected().empty());
}
