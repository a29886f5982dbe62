// Traffic between the PC and the stations behind hostsim: files and embedded commands
// going out, files, debug and signal packets and a network search coming back, and the
// host's own retransmission of data packets.
#include <gtest/gtest.h>

#include <set>

#include "link/frame.h"
#include "link/shell.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::WithCode;
using tevrolink::kAttr;
using tevrolink::kCode;
using tevrolink::kLength;
using tevrolink::kNode;
using tevrolink::kPayload;
using tevrolink::kSeq;

namespace {

Bytes Pattern(std::size_t size, uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 7));
    return b;
}

Bytes Le32Pair(uint32_t a, uint32_t b) {
    Bytes out;
    hostsim::AppendLe32(out, a);
    hostsim::AppendLe32(out, b);
    return out;
}

class StationTraffic : public testing::Test {
protected:
    void SetUp() override {
        sim_ = OpenLink(Carrier::kUdp);
        ASSERT_TRUE(sim_);
        sim_->AddStations({5, 6, 7});
        sim_->SetDrainRate(200000);
        SetHostHandShake(0);
    }
    void TearDown() override { CloseShell(); }

    // Sends `file` to `station` the way the manager does: information record, then chunks
    // as large as the flow control grants, the first flagged head and the last tail.
    void SendFile(uint8_t station, const Bytes &file, uint32_t announcedCrc) {
        const Bytes info = Le32Pair(static_cast<uint32_t>(file.size()), announcedCrc);
        ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
        ASSERT_EQ(WriteStreamToShell(info.data(), 8, station, 1, 0x02), 1);
        std::size_t sent = 0;
        while (sent < file.size()) {
            uint16_t room = 0;
            ASSERT_EQ(WaitForShellWritable(&room) & 0x04, 0);
            const std::size_t n = std::min<std::size_t>(room, file.size() - sent);
            int flags = sent == 0 ? 0x04 : 0;
            if (sent + n == file.size()) flags |= 0x08;
            ASSERT_EQ(WriteStreamToShell(file.data() + sent, static_cast<uint32_t>(n), station, 1, flags), 1);
            sent += n;
        }
    }

    void Activate(uint8_t station) {
        uint8_t out = 0;
        ASSERT_EQ(SetPeerNodeID(station, &out), 1);
        ASSERT_EQ(StartNetCenter(1), 1);
    }

    bool WaitForFiles(uint8_t station, std::size_t count) {
        return sim_->WaitUntil([&](const hostsim::HostNode &n) {
            return n.Model().stations.At(station).files.Finished().size() >= count;
        }, kWait);
    }

    std::unique_ptr<HostSim> sim_;
};

TEST_F(StationTraffic, FilesToAStationAreReassembledAndChecked) {
    Activate(5);
    ASSERT_TRUE(Synchronise());
    const Bytes file = Pattern(1234, 3);
    SendFile(5, file, QuickCRC32(file.data(), static_cast<uint32_t>(file.size())));
    SendFile(5, file, QuickCRC32(file.data(), static_cast<uint32_t>(file.size())) ^ 0x100);
    ASSERT_TRUE(WaitForFiles(5, 2));
    const auto files = sim_->ReceivedFiles(5);
    EXPECT_EQ(files[0].data, file);
    EXPECT_TRUE(files[0].sizeOk);
    EXPECT_TRUE(files[0].crcOk);
    EXPECT_TRUE(files[1].sizeOk);
    EXPECT_FALSE(files[1].crcOk) << "announced CRC does not match";
    EXPECT_TRUE(sim_->ReceivedFiles(6).empty());
    EXPECT_EQ(sim_->NodeStats().streamOverflows, 0u) << "the PC never wrote beyond its credit";
}

TEST_F(StationTraffic, BroadcastReachesActiveStationsThatAreNotSuspended) {
    const uint8_t active[] = {5, 6};
    ASSERT_EQ(SetNodeActive(active, 2), 1);
    sim_->UpdateStation(6, [](hostsim::Station &s) { s.suspended = true; });
    Activate(0);
    const Bytes file = Pattern(150, 9);
    SendFile(0, file, QuickCRC32(file.data(), static_cast<uint32_t>(file.size())));
    ASSERT_TRUE(WaitForFiles(5, 1));
    EXPECT_TRUE(sim_->ReceivedFiles(5)[0].crcOk);
    ASSERT_TRUE(Barrier(*sim_));
    EXPECT_TRUE(sim_->ReceivedFiles(6).empty()) << "suspended";
    EXPECT_TRUE(sim_->ReceivedFiles(7).empty()) << "not active";
}

TEST_F(StationTraffic, EmbeddedCommandsDirectAndClearAStationsDevices) {
    Activate(5);
    auto written = [&](uint64_t bytes) {
        return sim_->WaitUntil([=](const hostsim::HostNode &n) {
            return n.Model().stations.At(5).bytesReceived >= bytes && n.Model().txBuffer.Fill() == 0;
        }, kWait);
    };
    auto stream = [&](const Bytes &data) {
        ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
        ASSERT_EQ(WriteStreamToShell(data.data(), static_cast<uint32_t>(data.size()), 5, 1, 0x0C), 1);
    };
    uint64_t total = 0;
    auto command = [&](int result) {
        ASSERT_EQ(result, 1);
        total += 17;  // the embedded frame travels as payload
    };

    const Bytes data = Pattern(64, 1);
    ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
    command(SetPeerNodeOutputFile(5, OUT_FLASH, 0, 0x100));
    stream(data);
    total += data.size();
    ASSERT_TRUE(written(total));
    Bytes flash = sim_->StationDevice(5, OUT_FLASH);
    ASSERT_EQ(flash.size(), 0x100 + data.size());
    EXPECT_EQ(Bytes(flash.begin() + 0x100, flash.end()), data);

    ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
    command(ClearPeerNodeOutputFile(5, OUT_FLASH, 0x100, 4));
    ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
    command(SetPeerNodeOutputFile(5, OUT_LCD, 2, (1u << 16) | 3));
    const Bytes text = {'H', 'I'};
    stream(text);
    total += text.size();
    ASSERT_TRUE(written(total));
    flash = sim_->StationDevice(5, OUT_FLASH);
    EXPECT_EQ(Bytes(flash.begin() + 0x100, flash.begin() + 0x104), Bytes(4, 0xFF));
    EXPECT_EQ(flash[0x104], data[4]);
    const Bytes lcd = sim_->StationDevice(5, OUT_LCD);
    const std::size_t row1 = hostsim::kLcdColumns + 1;  // rows are joined by '\n'
    EXPECT_EQ(lcd[row1 + 3], 'H');
    EXPECT_EQ(lcd[row1 + 4], 'I');

    ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
    command(SetPeerNodeOutputFile(5, OUT_UART0, 115200, 0));
    stream(text);
    total += text.size();
    ASSERT_TRUE(written(total));
    EXPECT_EQ(sim_->StationDevice(5, OUT_UART0), text);
    ASSERT_EQ(WaitForShellWritable(nullptr) & 0x04, 0);
    command(ClearPeerNodeOutputFile(5, OUT_UART0, 0, 0xFFFFFFFFu));
    ASSERT_TRUE(written(total));
    EXPECT_TRUE(sim_->StationDevice(5, OUT_UART0).empty());
}

TEST_F(StationTraffic, AStationsFileArrivesAsInformationHeadMiddleAndTail) {
    const Bytes file = Pattern(450, 77);
    sim_->SendFileFromStation(6, file);
    std::vector<FrameRecord> frames;
    ASSERT_TRUE(PumpUntil([&] { return !frames.empty() && IsDataPacketTail(frames.back().data()); },
                          kWait, [&](const FrameRecord &f) { frames.push_back(f); }));
    ASSERT_EQ(frames.size(), 4u) << "information, then 200 + 200 + 50 bytes";
    uint8_t kind = 0;
    ASSERT_EQ(IsValidDataPacket(frames[0].data(), &kind), 1);
    EXPECT_EQ(kind, 1);
    ASSERT_EQ(IsDataPacketInfo(frames[0].data()), 1);
    uint8_t station = 0, length = 0;
    const uint8_t *info = GetDataPacketProfile(frames[0].data(), &station, &length);
    EXPECT_EQ(station, 6);
    ASSERT_EQ(length, 8);
    EXPECT_EQ(hostsim::ReadLe32(info), file.size());
    EXPECT_EQ(hostsim::ReadLe32(info + 4), QuickCRC32(file.data(), static_cast<uint32_t>(file.size())));
    EXPECT_EQ(IsDataPacketHead(frames[1].data()), 1);
    EXPECT_EQ(IsDataPacketHead(frames[2].data()) + IsDataPacketTail(frames[2].data()), 0);
    Bytes got;
    for (std::size_t i = 1; i < frames.size(); ++i)
        got.insert(got.end(), frames[i].begin() + kPayload, frames[i].begin() + kPayload + frames[i][kLength]);
    EXPECT_EQ(got, file);

    // A faulty sender: wrong size announced, and it stops before the tail.
    hostsim::FileSendOptions faulty;
    faulty.wrongSize = true;
    faulty.stopBeforeTail = true;
    const std::size_t mark = sim_->SentCount();
    sim_->SendFileFromStation(6, file, faulty);
    frames.clear();
    ASSERT_TRUE(PumpUntil([&] { return frames.size() == 3; }, kWait,
                          [&](const FrameRecord &f) { frames.push_back(f); }));
    EXPECT_EQ(hostsim::ReadLe32(frames[0].data() + kPayload), file.size() + 1);
    ASSERT_TRUE(sim_->WaitUntil([](const hostsim::HostNode &n) { return n.Link().DataQueued() == 0; }, kWait));
    const auto sent = sim_->Sent();
    std::size_t tails = 0;
    for (std::size_t i = mark; i < sent.size(); ++i) tails += (sent[i].Attr() & 0x08) != 0;
    EXPECT_EQ(sent.size() - mark, 3u);
    EXPECT_EQ(tails, 0u);
}

TEST_F(StationTraffic, DebugAndSignalPacketsCarryTheirFields) {
    sim_->UpdateStation(7, [](hostsim::Station &s) {
        s.suspended = true;
        s.hostLqi = 0x61;
        s.peerRssi = 0x42;
    });
    hostsim::DebugEvent event;
    event.subKind = 5;
    event.stationA = 7;
    event.stationB = 1;
    event.cmd = 0xE0;
    event.suit = 0x2A;
    event.mode = 2;
    sim_->SendDebug(true, event);
    sim_->SendDebug(false, event);
    sim_->SendSignal(0x40, 7);

    int seen = 0;
    ASSERT_TRUE(PumpUntil([&] { return seen == 3; }, kWait, [&](const FrameRecord &f) {
        uint8_t kind = 0, sub = 0;
        if (IsValidDebugPacket(&kind)) {
            const uint8_t *p = GetDebugPacketProfile(&sub);
            EXPECT_EQ(sub, 5);
            if (kind == 1) {
                EXPECT_EQ(p[14], 1) << "the host's own station";
                EXPECT_EQ(p[154], 7);
                EXPECT_EQ(p[153], 1);
                EXPECT_EQ(p[151], 0xE0);
                EXPECT_EQ(p[17], 0x61);
                EXPECT_EQ(p[20], 0x42);
                EXPECT_EQ(p[156], 0x2A | 0x80);
                EXPECT_EQ(p[21 + 96 + 0], 0x80) << "station 7 in the suspended bitmap";
            } else {
                EXPECT_EQ(kind, 2);
                EXPECT_EQ(p[2], 0xE0);
                EXPECT_EQ(p[5], 7);
                EXPECT_EQ(p[4], 1);
            }
            ++seen;
        } else if (IsValidSignalPacket(f.data())) {
            const uint8_t *p = GetSignalPacketProfile(f.data());
            EXPECT_EQ(p[0], 0x40);
            EXPECT_EQ(p[1], 7);
            EXPECT_EQ(p[2], hostsim::kStateOnline | hostsim::kStateSuspended);
            EXPECT_EQ(p[4], 0x61) << "host link quality";
            EXPECT_EQ(p[5], 0x42) << "peer signal strength";
            ++seen;
        }
    }));
}

TEST_F(StationTraffic, NetworkSearchReportsEachStationThenEnds) {
    uint8_t start = 1;
    ASSERT_EQ(SearchZelkoraNetwork(&start), 1);
    EXPECT_EQ(start, 1);
    std::vector<std::pair<uint8_t, uint8_t>> signals;  // state code, station
    ASSERT_TRUE(PumpUntil([&] { return !signals.empty() && signals.back().second == 255; }, kWait,
                          [&](const FrameRecord &f) {
                              if (const uint8_t *p = GetSignalPacketProfile(f.data()))
                                  signals.emplace_back(p[0], p[1]);
                          }));
    ASSERT_EQ(signals.size(), 4u);
    EXPECT_EQ(signals[0].second, 5);
    EXPECT_EQ(signals[1].second, 6);
    EXPECT_EQ(signals[2].second, 7);
    for (const auto &s : signals) EXPECT_EQ(s.first >> 4, 9) << "search signals";
    EXPECT_FALSE(sim_->With([](hostsim::HostNode &n) { return n.Model().searching; }));
}

TEST_F(StationTraffic, HostResendsUnacknowledgedDataPacketsThenResynchronises) {
    sim_->UpdateSettings([](hostsim::HostSettings &s) { s.handShake = true; });
    // The PC's own retransmission support is off, so it acknowledges nothing.
    const uint8_t payload[] = {1, 2, 3};
    const std::size_t mark = sim_->SentCount();
    sim_->SendDataPacket(5, 0x1C, payload);
    const auto sync = sim_->WaitForSent(WithCode(tevrolink::kCodeSyncRequest), kWait, mark);
    ASSERT_TRUE(sync);
    const auto sent = sim_->Sent();
    std::vector<hostsim::RecordedFrame> data;
    for (std::size_t i = mark; i < sent.size(); ++i)
        if (sent[i].Code() == tevrolink::kCodeData) data.push_back(sent[i]);
    ASSERT_EQ(data.size(), 1 + hostsim::kDataResends);
    for (std::size_t i = 1; i < data.size(); ++i) {
        EXPECT_EQ(data[i].bytes, data[0].bytes);
        // The node times each resend from when it set out to send the frame before, and the
        // record stamps a frame as it leaves: the stamps may stand a little under 250 ms apart.
        const auto gap = std::chrono::duration<double, std::milli>(data[i].at - data[i - 1].at);
        EXPECT_GE(gap.count(), 249.0);
        EXPECT_LE(gap.count(), 350.0);
    }
    EXPECT_EQ(sync->Seq(), data[0].Seq()) << "the PC is told to expect the number after it";

    // With the PC acknowledging, one sending is enough.
    ASSERT_TRUE(Synchronise());
    const std::size_t mark2 = sim_->ReceivedCount();
    const uint32_t resendsBefore = sim_->LinkStats().dataResends;
    sim_->SendDataPacket(5, 0x1C, payload);
    ASSERT_TRUE(PumpUntil([&] {
        return sim_->WaitForReceived(WithCode(tevrolink::kCodeDataAck), 0ms, mark2).has_value();
    }, kWait));
    ASSERT_TRUE(sim_->WaitUntil([](const hostsim::HostNode &n) { return n.Link().DataQueued() == 0; }, kWait));
    EXPECT_EQ(sim_->LinkStats().dataResends, resendsBefore);
}

}  // namespace

namespace {

// The demo network of `hostsim --demo N --demo-files SEC`: its stations' link quality
// moves between reports, and its files come only once the PC is in data transfer mode,
// whether or not the PC synchronised the link for retransmission, and never from the
// suspended station.
class DemoNetwork : public testing::TestWithParam<bool> {};

TEST_P(DemoNetwork, QualityDriftsAndFilesComeOnlyInDataTransferMode) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    if (GetParam()) {
        ASSERT_TRUE(Synchronise());
    }
    sim->AddDemoNetwork(3);
    sim->SetDemo(Millis(5));
    sim->SetDemoFiles(Millis(20));
    const auto sent = [&](uint8_t code) {
        std::vector<hostsim::RecordedFrame> frames;
        for (auto &f : sim->Sent())
            if (f.Code() == code) frames.push_back(std::move(f));
        return frames;
    };
    // Eighteen signals in command set mode: six of each station, time enough for files.
    ASSERT_TRUE(PumpUntil([&] { return sent(hostsim::kCodeSignal).size() >= 18; }, kWait));
    EXPECT_TRUE(sent(tevrolink::kCodeData).empty()) << "no file while in command set mode";
    std::set<Bytes> qualities;
    for (const auto &f : sent(hostsim::kCodeSignal))
        if (f.bytes[kPayload + 1] == 2) qualities.emplace(f.bytes.begin() + kPayload + 3, f.bytes.begin() + kPayload + 7);
    EXPECT_GE(qualities.size(), 3u) << "station 2's link quality changes between reports";

    ASSERT_EQ(StartNetCenter(1), 1);
    std::set<uint8_t> senders;
    std::size_t files = 0;
    ASSERT_TRUE(PumpUntil([&] {
        senders.clear();
        files = 0;
        for (const auto &f : sent(tevrolink::kCodeData))
            if (f.bytes[kAttr] == (hostsim::kAttrFile | hostsim::kFlagInfo)) {
                senders.insert(f.bytes[kNode]);
                ++files;
            }
        return files >= 4;
    }, kWait)) << "files from the stations in turn";
    EXPECT_EQ(senders, (std::set<uint8_t>{2, 3})) << "station 4 is suspended";
    CloseShell();
}

INSTANTIATE_TEST_SUITE_P(, DemoNetwork, testing::Bool(), [](const auto &info) {
    return std::string(info.param ? "Synchronised" : "WithoutHandShake");
});

}  // namespace
