// Whole files to and from serial Flash against hostsim: chunking, flags, re-positioning,
// what lands in the Flash, and the progress figures on standard output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::WithCode;

namespace {

constexpr uint8_t kStream = 0x1D;
constexpr uint8_t kRead = 0x1E;
constexpr uint8_t kSelectOutput = 0x71;

Bytes Pattern(std::size_t size, uint32_t seed = 7) {
    Bytes b(size);
    for (auto &x : b) x = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return b;
}

class TempFile {
public:
    explicit TempFile(const Bytes &content = {}) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("tevrolink-transfer-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const char *c_str() const { return path_.c_str(); }
    Bytes Read() const {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path path_;
};

// Runs `call` with standard output going to a file; returns what it printed.
template <typename Call>
std::string CaptureStdout(Call call) {
    TempFile sink;
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int fd = ::open(sink.c_str(), O_WRONLY | O_TRUNC);
    ::dup2(fd, 1);
    ::close(fd);
    call();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    const Bytes out = sink.Read();
    return std::string(out.begin(), out.end());
}

class FileTransfer : public testing::TestWithParam<Carrier> {
protected:
    void SetUp() override {
        sim_ = OpenLink(GetParam());
        ASSERT_TRUE(sim_);
        SetHostHandShake(0);
    }
    void TearDown() override { CloseShell(); }

    std::vector<hostsim::RecordedFrame> StreamsTo(uint8_t node) const {
        std::vector<hostsim::RecordedFrame> out;
        for (const auto &f : sim_->Received())
            if (f.Code() == kStream && f.Node() == node) out.push_back(f);
        return out;
    }

    std::unique_ptr<HostSim> sim_;
};

TEST_P(FileTransfer, DownloadToHostSendsWholeChunksAndNoEmptyOne) {
    const Bytes content = Pattern(240 * 3);
    TempFile file(content);
    int result = 0;
    CaptureStdout([&] { result = DownloadFileToHost(0x1000, file.c_str()); });
    ASSERT_EQ(result, 1);
    const auto chunks = StreamsTo(255);
    ASSERT_EQ(chunks.size(), 3u);
    for (const auto &c : chunks) EXPECT_EQ(c.Payload().size(), 240u);
    const Bytes flash = sim_->HostDevice(OUT_FLASH);
    ASSERT_EQ(flash.size(), 0x1000 + content.size());
    EXPECT_TRUE(std::equal(content.begin(), content.end(), flash.begin() + 0x1000));
    // The Flash was selected at the caller's position before any data.
    const auto first = sim_->Received().front();
    EXPECT_EQ(first.Code(), kSelectOutput);
    EXPECT_EQ(Bytes(first.Payload().begin(), first.Payload().end()),
              (Bytes{OUT_FLASH, 0, 0, 0, 0, 0x00, 0x10, 0, 0}));
}

TEST_P(FileTransfer, ProgressFiguresOverwriteEachOtherInPlace) {
    TempFile file(Pattern(1000));
    int result = 0;
    const std::string out = CaptureStdout([&] { result = DownloadFileToHost(0, file.c_str()); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "24.0%\b\b\b\b\b48.0%\b\b\b\b\b72.0%\b\b\b\b\b96.0%\b\b\b\b\b100.0%\b\b\b\b\b\b");
}

TEST_P(FileTransfer, NothingIsSentForAFileThatCannotBeReadOrIsEmpty) {
    TempFile empty;
    EXPECT_EQ(DownloadFileToHost(0, empty.c_str()), 0);
    EXPECT_EQ(DownloadFileToHost(0, "/nonexistent/tevrolink-file"), 0);
    EXPECT_EQ(DownloadFileToNetwork(5, 0, empty.c_str()), 0);
    EXPECT_EQ(UploadFileFromHost(0, 0, "/nonexistent/never-created"), 0);
    EXPECT_FALSE(std::filesystem::exists("/nonexistent/never-created"));
    ASSERT_TRUE(Barrier(*sim_));
    for (const auto &f : sim_->Received())
        EXPECT_TRUE(f.Code() != kStream && f.Code() != kSelectOutput) << std::hex << int(f.Code());
}

TEST_P(FileTransfer, HostThatStopsAcknowledgingFailsTheDownload) {
    TempFile file(Pattern(2000));
    hostsim::ReplyFault silent;
    silent.count = 0;
    silent.omit = true;
    sim_->SetReplyFault(kStream, silent);
    int result = 1;
    CaptureStdout([&] { result = DownloadFileToHost(0, file.c_str()); });
    EXPECT_EQ(result, 0);
}

class NetworkDownload : public FileTransfer {
protected:
    void SetUp() override {
        FileTransfer::SetUp();
        sim_->AddStations({5}, true);
        uint8_t out = 0;
        ASSERT_EQ(SetPeerNodeID(5, &out), 1);
        ASSERT_EQ(StartNetCenter(1), 1);
        QueryHostRTxStatus(nullptr);
    }
    int Download(const Bytes &content) {
        TempFile file(content);
        int result = 0;
        CaptureStdout([&] { result = DownloadFileToNetwork(5, 0x200, file.c_str()); });
        return result;
    }
    // The file-data frames to station 5 (the embedded device selection excluded).
    std::vector<hostsim::RecordedFrame> DataChunks() const {
        std::vector<hostsim::RecordedFrame> out;
        for (const auto &f : StreamsTo(5))
            if ((f.Attr() >> 4) == 1) out.push_back(f);
        return out;
    }
};

TEST_P(NetworkDownload, OneByteFileIsOneFrameFirstAndLast) {
    ASSERT_EQ(Download({0x5A}), 1);
    const auto chunks = DataChunks();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].Attr(), 0x1C);
    // The station's Flash was selected first, by a command inside a stream frame.
    const auto streams = StreamsTo(5);
    ASSERT_GE(streams.size(), 2u);
    EXPECT_EQ(streams[0].Attr(), 0x20);
    EXPECT_EQ(streams[0].Payload()[tevrolink::kCode], kSelectOutput);
    EXPECT_TRUE(PumpUntil([&] { return !sim_->StationDevice(5, OUT_FLASH).empty(); }, kWait));
    EXPECT_EQ(sim_->StationDevice(5, OUT_FLASH).back(), 0x5A);
}

TEST_P(NetworkDownload, ALastChunkThatFillsTheRoomIsFlaggedLast) {
    const Bytes content = Pattern(600);  // three chunks of the 200 bytes granted
    ASSERT_EQ(Download(content), 1);
    const auto chunks = DataChunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].Attr(), 0x14);
    EXPECT_EQ(chunks[1].Attr(), 0x10);
    EXPECT_EQ(chunks[2].Attr(), 0x18);
    EXPECT_TRUE(PumpUntil([&] { return sim_->StationDevice(5, OUT_FLASH).size() >= 0x200 + 600; }, kWait));
    const Bytes flash = sim_->StationDevice(5, OUT_FLASH);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), flash.begin() + 0x200));
}

TEST_P(NetworkDownload, SuspendedReceiverStopsTheDownload) {
    sim_->UpdateStation(5, [](hostsim::Station &s) { s.suspended = true; });
    EXPECT_EQ(Download(Pattern(5000)), 0);
    EXPECT_LT(DataChunks().size(), 25u);
}

TEST_P(FileTransfer, UploadAsksInChunksAndRepositionsAfterAShortAnswer) {
    const Bytes content = Pattern(500);
    ASSERT_EQ(SetHostNodeOutputFile(OUT_FLASH, 0, 0x40), 1);
    ASSERT_EQ(SendPacketToHostNode(content.data(), 240), 1);
    ASSERT_EQ(SendPacketToHostNode(content.data() + 240, 240), 1);
    ASSERT_EQ(SendPacketToHostNode(content.data() + 480, 20), 1);
    sim_->ClearRecord();

    // The first request is answered short once.
    hostsim::ReplyFault shortOnce;
    shortOnce.payload = Bytes(100, 0xEE);
    sim_->SetReplyFault(kRead, shortOnce);
    TempFile out;
    int result = 0;
    const std::string progress =
        CaptureStdout([&] { result = UploadFileFromHost(0x40, 500, out.c_str()); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out.Read(), content);

    std::vector<uint32_t> requests;
    std::vector<uint32_t> positions;
    for (const auto &f : sim_->Received()) {
        const auto p = f.Payload();
        if (f.Code() == kRead) requests.push_back(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
        if (f.Code() == kSelectOutput) positions.push_back(p[5] | p[6] << 8 | p[7] << 16 | uint32_t(p[8]) << 24);
    }
    EXPECT_EQ(requests, (std::vector<uint32_t>{240, 240, 240, 20}));
    EXPECT_EQ(positions, (std::vector<uint32_t>{0x40, 0x40})) << "back to the failed chunk's start";
    // The short answer moved nothing: three figures for three accepted chunks.
    EXPECT_EQ(progress, "48.0%\b\b\b\b\b96.0%\b\b\b\b\b100.0%\b\b\b\b\b\b");
}

TEST_P(FileTransfer, UploadGivesUpAfterSixteenShortAnswersInARow) {
    hostsim::ReplyFault alwaysShort;
    alwaysShort.count = 0;
    alwaysShort.payload = Bytes(10, 0);
    sim_->SetReplyFault(kRead, alwaysShort);
    TempFile out;
    int result = 1;
    CaptureStdout([&] { result = UploadFileFromHost(0, 100, out.c_str()); });
    EXPECT_EQ(result, 0);
    std::size_t reads = 0;
    for (const auto &f : sim_->Received()) reads += f.Code() == kRead;
    EXPECT_EQ(reads, 16u);
    EXPECT_TRUE(out.Read().empty());
}

INSTANTIATE_TEST_SUITE_P(Carriers, FileTransfer, testing::Values(Carrier::kUdp, Carrier::kPty),
                         [](const auto &info) { return CarrierName(info.param); });
INSTANTIATE_TEST_SUITE_P(Carriers, NetworkDownload, testing::Values(Carrier::kUdp, Carrier::kPty),
                         [](const auto &info) { return CarrierName(info.param); });

}  // namespace
