// Whole-file transfers over a bad link: lost and damaged frames, a host node that falls
// silent or restarts in the middle. A transfer reports 1 only when every byte lies where it
// belongs, and ends within its limit either way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <thread>

#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::FaultPlan;

namespace {

constexpr uint8_t kStation = 5;
constexpr uint32_t kPosition = 0x300;
constexpr std::size_t kFileSize = 4 << 10;

enum class Transfer { kToHost, kToNetwork, kFromHost };
enum class Upset { kNone, kSilence, kRestart };  // once a third of the file has passed

struct TransferFaultCase {
    const char *name;
    Transfer transfer;
    Carrier carrier;
    bool handShake;
    FaultPlan plan;
    Upset upset = Upset::kNone;
    bool mustSucceed = false;  // the resends carry the file through these faults
};

void PrintTo(const TransferFaultCase &c, std::ostream *out) { *out << c.name; }

const TransferFaultCase kCases[] = {
    {"ToHostLoss5Udp", Transfer::kToHost, Carrier::kUdp, false, {.seed = 81, .dropRate = 0.05}, Upset::kNone, true},
    {"ToHostLoss20Pty", Transfer::kToHost, Carrier::kPty, false, {.seed = 82, .dropRate = 0.20}},
    {"ToHostDamagePty", Transfer::kToHost, Carrier::kPty, false, {.seed = 83, .corruptRate = 0.05}, Upset::kNone, true},
    // An acknowledgement that comes twice, or late, must not stand for a later chunk's.
    {"ToHostDoublingAndLossUdp", Transfer::kToHost, Carrier::kUdp, false, {.seed = 91, .dropRate = 0.1, .duplicateRate = 0.2}},
    {"ToHostLateAnswersUdp", Transfer::kToHost, Carrier::kUdp, false,
     {.seed = 92, .dropRate = 0.05, .delay = Millis(200), .reorder = true, .direction = hostsim::FaultDirection::kToPc}},
    {"ToHostSilenceUdp", Transfer::kToHost, Carrier::kUdp, false, {}, Upset::kSilence},
    {"ToHostRestartPty", Transfer::kToHost, Carrier::kPty, false, {}, Upset::kRestart},
    {"ToNetworkLoss1Udp", Transfer::kToNetwork, Carrier::kUdp, true, {.seed = 84, .dropRate = 0.01}, Upset::kNone, true},
    {"ToNetworkLoss20Pty", Transfer::kToNetwork, Carrier::kPty, true, {.seed = 85, .dropRate = 0.20}},
    {"ToNetworkLoss5UdpNoHandShake", Transfer::kToNetwork, Carrier::kUdp, false, {.seed = 86, .dropRate = 0.05}},
    {"ToNetworkDamagePtyNoHandShake", Transfer::kToNetwork, Carrier::kPty, false, {.seed = 87, .corruptRate = 0.05}},
    {"ToNetworkSilenceUdp", Transfer::kToNetwork, Carrier::kUdp, true, {}, Upset::kSilence},
    {"ToNetworkSilencePtyNoHandShake", Transfer::kToNetwork, Carrier::kPty, false, {}, Upset::kSilence},
    {"ToNetworkRestartUdp", Transfer::kToNetwork, Carrier::kUdp, true, {}, Upset::kRestart},
    {"ToNetworkRestartPtyNoHandShake", Transfer::kToNetwork, Carrier::kPty, false, {}, Upset::kRestart},
    {"FromHostLoss5Pty", Transfer::kFromHost, Carrier::kPty, false, {.seed = 88, .dropRate = 0.05}, Upset::kNone, true},
    {"FromHostLoss20Udp", Transfer::kFromHost, Carrier::kUdp, false, {.seed = 89, .dropRate = 0.20}},
    {"FromHostDamageUdp", Transfer::kFromHost, Carrier::kUdp, false, {.seed = 90, .corruptRate = 0.05}, Upset::kNone, true},
    {"FromHostSilencePty", Transfer::kFromHost, Carrier::kPty, false, {}, Upset::kSilence},
    {"FromHostRestartUdp", Transfer::kFromHost, Carrier::kUdp, false, {}, Upset::kRestart},
};

Bytes Pattern(std::size_t size) {
    Bytes b(size);
    uint32_t x = 4242;
    for (auto &v : b) v = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return b;
}

Bytes ReadAll(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// `count` bytes of `memory` from `position`, or fewer where it ends.
Bytes Slice(const Bytes &memory, std::size_t position, std::size_t count) {
    if (memory.size() <= position) return {};
    return Bytes(memory.begin() + static_cast<std::ptrdiff_t>(position),
                 memory.begin() + static_cast<std::ptrdiff_t>(std::min(memory.size(), position + count)));
}

class TransferUnderFaults : public testing::TestWithParam<TransferFaultCase> {
protected:
    void SetUp() override {
        const TransferFaultCase &c = GetParam();
        sim_ = OpenLink(c.carrier);
        ASSERT_TRUE(sim_);
        sim_->AddStations({kStation}, true);
        if (c.handShake) {
            ASSERT_TRUE(Synchronise());
        } else {
            SetHostHandShake(0);
        }
        uint8_t out = 0;
        ASSERT_EQ(SetPeerNodeID(kStation, &out), 1);
        ASSERT_EQ(StartNetCenter(1), 1);
        QueryHostRTxStatus(nullptr);
        path_ = std::filesystem::temp_directory_path() /
                ("tevrolink-faults-" + std::to_string(::getpid()) + "-" + c.name);
        if (c.transfer == Transfer::kFromHost) {
            // The host node's Flash holds the file before the link goes bad.
            sim_->With([&](hostsim::HostNode &n) {
                n.Model().devices.Select(OUT_FLASH, 0, kPosition);
                n.Model().devices.Write(content_);
            });
        } else {
            std::ofstream(path_, std::ios::binary)
                .write(reinterpret_cast<const char *>(content_.data()), static_cast<std::streamsize>(content_.size()));
        }
        sim_->SetFaults(c.plan);
        if (c.upset != Upset::kNone) {
            // Each answer a little late, so that the upset finds the file in the middle.
            hostsim::ReplyFault late;
            late.count = 0;
            late.delay = Millis(5);
            sim_->SetReplyFault(c.transfer == Transfer::kFromHost ? 0x1E : 0x1D, late);
        }
    }
    void TearDown() override {
        CloseShell();
        std::filesystem::remove(path_);
    }

    // The frames that carry the file (or ask for it), a third of which bring the upset.
    static hostsim::FramePredicate FileFrame(Transfer transfer) {
        return [transfer](const hostsim::RecordedFrame &f) {
            switch (transfer) {
            case Transfer::kToHost: return f.Code() == 0x1D && f.Node() == 0xFF;
            case Transfer::kToNetwork: return f.Code() == 0x1D && (f.Attr() >> 4) == 1;
            case Transfer::kFromHost: return f.Code() == 0x1E;
            }
            return false;
        };
    }

    // Runs the transfer, its progress figures going nowhere.
    int Run() {
        const TransferFaultCase &c = GetParam();
        std::fflush(stdout);
        const int saved = ::dup(1);
        const int sink = ::open("/dev/null", O_WRONLY);
        ::dup2(sink, 1);
        ::close(sink);
        std::atomic<bool> over{false};
        std::thread upsetter([&] {
            if (c.upset == Upset::kNone) return;
            const std::size_t third = (kFileSize / 200 + 1) / 3;
            while (!over && sim_->WaitForReceivedCount(FileFrame(c.transfer), third, Millis(100)).size() < third) {
            }
            if (over) return;
            if (c.upset == Upset::kSilence) sim_->SilenceFor(Millis(2000));
            if (c.upset == Upset::kRestart) sim_->Restart();
            upset_ = true;
        });
        int result = 0;
        switch (c.transfer) {
        case Transfer::kToHost: result = DownloadFileToHost(kPosition, path_.c_str()); break;
        case Transfer::kToNetwork: result = DownloadFileToNetwork(kStation, kPosition, path_.c_str()); break;
        case Transfer::kFromHost: result = UploadFileFromHost(kPosition, kFileSize, path_.c_str()); break;
        }
        over = true;
        upsetter.join();
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        return result;
    }

    // Where the bytes should now be, as they are there.
    Bytes Arrived() {
        switch (GetParam().transfer) {
        case Transfer::kToHost: return Slice(sim_->HostDevice(OUT_FLASH), kPosition, kFileSize);
        case Transfer::kToNetwork:
            // The host node passes on what it holds at its own pace.
            PumpUntil([&] { return sim_->With([](hostsim::HostNode &n) { return n.Model().txBuffer.Fill() == 0; }); }, kWait);
            return Slice(sim_->StationDevice(kStation, OUT_FLASH), kPosition, kFileSize);
        case Transfer::kFromHost: return ReadAll(path_);
        }
        return {};
    }

    std::unique_ptr<HostSim> sim_;
    std::filesystem::path path_;
    const Bytes content_ = Pattern(kFileSize);
    std::atomic<bool> upset_{false};
};

TEST_P(TransferUnderFaults, OneOnlyWhenEveryByteArrived) {
    const TransferFaultCase &c = GetParam();
    const auto started = std::chrono::steady_clock::now();
    const int result = Run();
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(result == 0 || result == 1) << result;
    if (c.upset != Upset::kNone) {
        EXPECT_TRUE(upset_) << "the upset never came";
    }
    EXPECT_LT(took, std::chrono::seconds(12)) << "the transfer outlasted its limit";
    const bool whole = Arrived() == content_;
    if (result == 1) {
        EXPECT_TRUE(whole) << "1 for a file that did not arrive whole";
    }
    if (c.mustSucceed) {
        EXPECT_EQ(result, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, TransferUnderFaults, testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
