// meradond, the unattended manager, as a program against hostsim: it receives the
// stations' files whole with their verdicts, rides out the bad day by itself, and ends on
// SIGTERM with the open file's verdict line written.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "sim/host_sim.h"
#include "tests/cli/cli_runner.h"

namespace clitest {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kPtyBaud = 115200;
constexpr uint8_t kStation = 2;

enum class Fault {
    kSilence,      // the node stops answering for a while
    kRestart,      // the node starts afresh, as after a power cut
    kLinkGone,     // the serial line goes away and comes back (an adapter pulled)
    kStopMidFile,  // SIGTERM while a file is being received
};

struct FaultCase {
    const char *name;
    bool pty;
    Fault fault;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class DaemonUnderFaults : public ::testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override {
        dir_ = TempPath(std::string("daemon-") + GetParam().name);
        link_ = dir_ + "-host";
        StartHost();
    }

    void StartHost() {
        if (GetParam().pty) {
            hostsim::PtyOptions options;
            options.baud = kPtyBaud;
            options.linkPath = link_;
            sim_ = hostsim::HostSim::StartPty(options);
        } else {
            sim_ = hostsim::HostSim::StartUdp("127.0.0.1", 0);
        }
        sim_->AddStations({kStation}, true);
    }

    // The link from the command line, our UDP port from a settings file.
    std::vector<std::string> Args() const {
        const std::string settings = dir_ + ".toml";
        std::ofstream(settings) << "local_port = " << FreeUdpPort() << "\n";
        std::vector<std::string> args{"--config", settings, "--output-dir", dir_};
        if (GetParam().pty)
            args.insert(args.end(), {"--serial", link_, "--baud", std::to_string(kPtyBaud)});
        else
            args.insert(args.end(), {"--connect", "127.0.0.1:" + std::to_string(sim_->Port())});
        return args;
    }

    // The received files of the output directory, by content.
    std::vector<std::string> Received() const {
        std::vector<std::string> contents;
        for (const auto &entry : std::filesystem::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("Report-") || name.starts_with("link-quality") || name.starts_with("history.sqlite"))
                continue;
            contents.push_back(ReadWholeFile(entry.path().string()));
        }
        return contents;
    }

    // Waits until a received file holds at least `size` bytes, woken by the directory's
    // changes.
    bool WaitForReceivedBytes(std::size_t size, std::chrono::milliseconds timeout) const {
        const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        inotify_add_watch(watch, dir_.c_str(), IN_MODIFY | IN_CREATE | IN_CLOSE_WRITE);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool reached = false;
        while (!reached && std::chrono::steady_clock::now() < deadline) {
            for (const std::string &content : Received()) reached |= content.size() >= size;
            pollfd wait{watch, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (!reached && ::poll(&wait, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) > 0) {
                char events[4096];
                while (::read(watch, events, sizeof events) > 0) {
                }
            }
        }
        ::close(watch);
        return reached;
    }

    std::string dir_, link_;
    std::unique_ptr<hostsim::HostSim> sim_;
};

std::vector<uint8_t> Content(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed + i / 253);
    return bytes;
}

TEST_P(DaemonUnderFaults, ReceivesWholeFilesAcrossTheFault) {
    const FaultCase &c = GetParam();
    Child daemon(MERADOND_PATH, Args(), {});
    ASSERT_TRUE(daemon.WaitForError("数据传输模式", 20s)) << daemon.Finish().err;
    const std::vector<uint8_t> before = Content(3000, 1), after = Content(5000, 2);
    sim_->SendFileFromStation(kStation, before);
    ASSERT_TRUE(daemon.WaitForError("接收成功", 20s)) << daemon.Finish().err;

    switch (c.fault) {
    case Fault::kSilence:
        sim_->SetSilent(true);
        ASSERT_TRUE(daemon.WaitForError("主节点没有应答", 30s)) << daemon.Finish().err;
        sim_->SetSilent(false);
        ASSERT_TRUE(daemon.WaitForError("主节点恢复应答", 30s)) << daemon.Finish().err;
        break;
    case Fault::kRestart: sim_->Restart(); break;
    case Fault::kLinkGone:
        sim_.reset();  // the pty and its link are gone, as a pulled adapter's device
        ASSERT_TRUE(daemon.WaitForError("与主节点的连接已断开", 30s)) << daemon.Finish().err;
        ASSERT_TRUE(daemon.WaitForError("打开通讯端口失败", 30s)) << daemon.Finish().err;
        StartHost();
        ASSERT_TRUE(daemon.WaitForError("数据传输模式", 30s, 2)) << daemon.Finish().err;
        break;
    case Fault::kStopMidFile: {
        hostsim::FileSendOptions open;
        open.stopBeforeTail = true;
        sim_->SendFileFromStation(kStation, after, open);
        ASSERT_TRUE(daemon.WaitForError("开始接收", 20s, 2)) << daemon.Finish().err;
        ASSERT_TRUE(WaitForReceivedBytes(4000, 20s)) << daemon.Finish().err;
        break;
    }
    }
    if (c.fault != Fault::kStopMidFile) {
        sim_->SendFileFromStation(kStation, after);
        ASSERT_TRUE(daemon.WaitForError("接收成功", 30s, 2)) << daemon.Finish().err;
    }

    const auto stopAsked = std::chrono::steady_clock::now();
    ::kill(daemon.Pid(), SIGTERM);
    const Result r = daemon.Finish(10s);
    const auto stopTook = std::chrono::steady_clock::now() - stopAsked;
    std::printf("SIGTERM to exit: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(stopTook).count()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("operation record saved"), std::string::npos) << r.err;

    const std::vector<std::string> files = Received();
    const std::string first(before.begin(), before.end()), second(after.begin(), after.end());
    EXPECT_NE(std::find(files.begin(), files.end(), first), files.end()) << r.err;
    if (c.fault == Fault::kStopMidFile) {
        // The file being received is closed with its verdict when the daemon stops.
        EXPECT_NE(r.err.find("文件异常关闭"), std::string::npos) << r.err;
        EXPECT_EQ(files.size(), 2u);
    } else {
        EXPECT_NE(std::find(files.begin(), files.end(), second), files.end()) << r.err;
        EXPECT_EQ(files.size(), 2u) << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Meradond, DaemonUnderFaults,
    ::testing::Values(FaultCase{"SilenceUdp", false, Fault::kSilence}, FaultCase{"RestartUdp", false, Fault::kRestart},
                      FaultCase{"LinkGonePty", true, Fault::kLinkGone},
                      FaultCase{"StopMidFileUdp", false, Fault::kStopMidFile}),
    [](const auto &info) { return std::string(info.param.name); });

// Bad settings are refused at start with the file, line and reason, never ignored.
TEST(MeradondSettings, BadSettingsAreRefusedWithFileAndLine) {
    struct Bad {
        const char *text;
        const char *says;
    };
    for (const Bad &bad : {Bad{"connect = \"127.0.0.1:1\"\nbuad = 9600\n", ":2: unknown key \"buad\""},
                           Bad{"serial = \"/dev/ttyUSB0\"\nbaud = \"fast\"\n", ":2: baud wants a whole number"},
                           Bad{"connect = \"localhost:12580\"\n", ":1: connect wants the host node's IPv4 address"},
                           Bad{"connect = \"255.255.255.255:12580\"\n", ":1: connect wants the host node's IPv4"},
                           Bad{"connect = [1, 2\n", ":1:"},
                           Bad{"connect = \"127.0.0.1:1\"\nretention_days = 0\n",
                               ":2: retention_days wants a number from 1 to 36500"},
                           Bad{"connect = \"127.0.0.1:1\"\nserial = \"ttyS0\"\n", ":2: give only one of connect and serial"}}) {
        const std::string file = TempPath("bad.toml");
        std::ofstream(file) << bad.text;
        const Result r = Child(MERADOND_PATH, {"--config", file}, {}).Finish();
        EXPECT_EQ(r.status, 2) << bad.text;
        EXPECT_NE(r.err.find(file + bad.says), std::string::npos) << r.err;
    }
    const Result none = Child(MERADOND_PATH, {"--config", TempPath("missing.toml")}, {}).Finish();
    EXPECT_EQ(none.status, 2) << none.err;
    const Result flag = Child(MERADOND_PATH, {"--connect", "127.0.0.1:1", "--retransmission", "yes"}, {}).Finish();
    EXPECT_EQ(flag.status, 2);
    EXPECT_NE(flag.err.find("--retransmission: wants on or off"), std::string::npos) << flag.err;
}

// --check prints the host node's settings and exits 0; a node that does not answer is 1.
TEST(MeradondCheck, PrintsTheNodesSettingsOrSaysWhatFailed) {
    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    const std::string node = "127.0.0.1:" + std::to_string(sim->Port());
    const std::string settings = TempPath("check.toml");
    std::ofstream(settings) << "local_port = " << FreeUdpPort() << "\n";
    const Result ok = Child(MERADOND_PATH, {"--config", settings, "--connect", node, "--check"}, {}).Finish();
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("firmware        HostSim"), std::string::npos) << ok.out;
    sim->SetSilent(true);
    const Result silent = Child(MERADOND_PATH, {"--config", settings, "--connect", node, "--check"}, {}).Finish();
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("主节点没有应答"), std::string::npos) << silent.err;
}

}  // namespace
}  // namespace clitest
