// meradond's MQTT bridge against a real broker (Debian's mosquitto, started here on a free
// loopback port): what the network does reaches the topics, also across a broker that is
// stopped and started again, and a gateway that dies is announced by its last will. Files
// received while the broker is away reach it once it is back, in order, also when the
// gateway was killed and started again meanwhile. The requests of other programs are run
// or refused, and a flood of them leaves reception whole.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "manager/core/history/database.h"
#include "sim/host_sim.h"
#include "tests/cli/cli_runner.h"

namespace clitest {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kStation = 2;
const std::string kBase = "test/site";

using test_support::FreeTcpPort;

// mosquitto on 127.0.0.1. It keeps its sessions across a restart, so that a subscriber's
// session gets what was published while the subscriber itself was away.
class Broker {
public:
    explicit Broker(uint16_t port) : port_(port), config_(TempPath("broker-" + std::to_string(port) + ".conf")) {
        const std::string store = TempPath("broker-" + std::to_string(port) + "/");
        std::filesystem::create_directories(store);
        std::ofstream(config_) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n"
                               << "persistence true\npersistence_location " << store << "\n";
    }
    bool Start() {
        process_ = std::make_unique<Child>(MOSQUITTO_PATH, std::vector<std::string>{"-c", config_}, std::vector<std::string>{});
        return process_->WaitForError("running", 10s);
    }
    void Stop() {
        ::kill(process_->Pid(), SIGTERM);
        process_->Finish();
    }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    uint16_t Port() const { return port_; }
    // Publishes each line of `lines` as one message on `topic` below the base.
    void PublishLines(const std::string &topic, const std::string &lines, int qos = 1) const {
        const std::string file = TempPath("lines-" + std::to_string(port_));
        std::ofstream(file) << lines;
        Child pub("sh", {"-c", "mosquitto_pub -h 127.0.0.1 -p " + std::to_string(port_) + " -q " +
                                   std::to_string(qos) + " -t " + kBase + "/" + topic + " -l < '" + file + "'"},
                  {});
        EXPECT_EQ(pub.Finish().status, 0);
    }
    // Publishes the contents of `file` as one message.
    void PublishFile(const std::string &topic, const std::string &file) const {
        Child pub("mosquitto_pub", {"-h", "127.0.0.1", "-p", std::to_string(port_), "-q", "1", "-t",
                                    kBase + "/" + topic, "-f", file},
                  {});
        EXPECT_EQ(pub.Finish().status, 0);
    }
    // A subscriber to everything below the base, with a session that outlives it.
    // A persistent subscriber to the topics below the base (all of them by default).
    std::unique_ptr<Child> Subscribe(const std::vector<std::string> &below = {"#"}) const {
        std::vector<std::string> args{"-h", "127.0.0.1", "-p", std::to_string(port_), "-c", "-i", "watcher",
                                      "-q", "1", "-v"};
        for (const std::string &topic : below) args.insert(args.end(), {"-t", kBase + "/" + topic});
        return std::make_unique<Child>("mosquitto_sub", args, std::vector<std::string>{});
    }

private:
    uint16_t port_;
    std::string config_;
    std::unique_ptr<Child> process_;
};

// Waits until the gateway has appended `messages` messages to its outbox in `outputDir`.
// It does so on its main loop, after the record has named the file, and says nothing about
// it: the store is looked at until then.
bool WaitForOutbox(const std::string &outputDir, int64_t messages, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        try {
            meradon::Database db(outputDir + "/history.sqlite", meradon::Database::Access::ReadOnly);
            if (db.QueryInt("SELECT seq FROM sqlite_sequence WHERE name = 'outbox'").value_or(0) >= messages)
                return true;
        } catch (const meradon::DatabaseError &) {
            // Not made yet, or busy: looked at again.
        }
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

enum class Upset { kBrokerRestart, kGatewayKilled, kGatewayKilledWhileBrokerAway, kOutboxFullWhileBrokerAway };

struct BridgeCase {
    const char *name;
    Upset upset;
    int outboxLimit = 100 << 20;  // bytes
};

void PrintTo(const BridgeCase &c, std::ostream *os) { *os << c.name; }

class BridgeUnderFaults : public ::testing::TestWithParam<BridgeCase> {};

TEST_P(BridgeUnderFaults, TopicsCarryWhatTheNetworkDoes) {
    Broker broker(FreeTcpPort());
    ASSERT_TRUE(broker.Start());
    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    sim->AddStations({kStation}, true);
    const std::string settings = TempPath(std::string("bridge-") + GetParam().name + ".toml");
    std::ofstream(settings) << "local_port = " << FreeUdpPort() << "\n[mqtt]\nkeepalive = 5\noutbox_limit = "
                            << GetParam().outboxLimit << "\n";
    const std::string outputDir = TempPath(std::string("bridge-out-") + GetParam().name);
    std::filesystem::remove_all(outputDir);
    auto startDaemon = [&] {
        return std::make_unique<Child>(MERADOND_PATH,
                                       std::vector<std::string>{"--config", settings, "--connect",
                                                                "127.0.0.1:" + std::to_string(sim->Port()),
                                                                "--output-dir", outputDir, "--broker", broker.Url(),
                                                                "--base", kBase},
                                       std::vector<std::string>{});
    };
    auto daemon = startDaemon();
    auto first = broker.Subscribe();
    ASSERT_TRUE(first->WaitForOutput(kBase + "/bridge/state online", 20s)) << daemon->Finish().err;
    ASSERT_TRUE(first->WaitForOutput("\"mode\":\"data\"", 20s)) << daemon->Finish().err;
    ASSERT_TRUE(first->WaitForOutput(kBase + "/station/2 {\"active\":true", 20s)) << daemon->Finish().err;

    if (GetParam().upset == Upset::kGatewayKilled) {
        ::kill(daemon->Pid(), SIGKILL);
        daemon->Finish();
        // The broker tells the world once the keep-alive (5 s here) has run out.
        EXPECT_TRUE(first->WaitForOutput(kBase + "/bridge/state offline", 20s));
        return;
    }
    const bool full = GetParam().upset == Upset::kOutboxFullWhileBrokerAway;
    if (full || GetParam().upset == Upset::kGatewayKilledWhileBrokerAway) {
        first->Finish(1s);
        broker.Stop();
        const std::vector<std::size_t> sizes = {1001, 1002, 1003};
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            sim->SendFileFromStation(kStation, std::vector<uint8_t>(sizes[i], 'A'));
            ASSERT_TRUE(daemon->WaitForError("接收成功", 20s, i + 1)) << daemon->Finish().err;
        }
        ASSERT_TRUE(WaitForOutbox(outputDir, static_cast<int64_t>(sizes.size()), 10s)) << daemon->Finish().err;
        if (!full) {
            ::kill(daemon->Pid(), SIGKILL);
            daemon->Finish();
            daemon = startDaemon();
            ASSERT_TRUE(daemon->WaitForError("数据传输模式", 20s)) << daemon->Finish().err;
        }
        ASSERT_TRUE(broker.Start());
        auto second = broker.Subscribe();
        ASSERT_TRUE(second->WaitForOutput("\"size\":1003", 30s)) << daemon->Finish().err;
        if (full) {
            // Room for one message: the newest is kept, and the record counts the others.
            EXPECT_TRUE(daemon->WaitForError("最早的 2 条消息已丢弃", 10s)) << daemon->Finish().err;
            EXPECT_EQ(second->Finish(1s).out.find("\"size\":1001"), std::string::npos);
            return;
        }
        const std::string seen = second->Finish(1s).out;
        std::size_t previous = 0;
        for (const std::size_t size : sizes) {
            const std::size_t at = seen.find("\"size\":" + std::to_string(size));
            ASSERT_NE(at, std::string::npos) << size << " lost:\n" << seen;
            EXPECT_GT(at, previous) << size << " out of order:\n" << seen;
            previous = at;
        }
        return;
    }
    // A small file rides in its message.
    const std::string hello = "hello world";
    sim->SendFileFromStation(kStation, std::vector<uint8_t>(hello.begin(), hello.end()));
    ASSERT_TRUE(first->WaitForOutput(kBase + "/station/2/received {", 20s)) << daemon->Finish().err;
    EXPECT_TRUE(first->WaitForOutput("\"crc\":\"ok\",\"data\":\"aGVsbG8gd29ybGQ=\"", 5s)) << daemon->Finish().err;
    first->Finish(1s);

    broker.Stop();
    // Meanwhile station 2 is suspended, its quality changes and it sends a file.
    sim->UpdateStation(kStation, [](hostsim::Station &s) {
        s.suspended = true;
        s.hostLqi = 0x77;
    });
    sim->SendSignal(0x40, kStation);
    sim->SendFileFromStation(kStation, std::vector<uint8_t>(5000, 0x5A));
    ASSERT_TRUE(daemon->WaitForError("接收成功", 20s, 2)) << daemon->Finish().err;
    ASSERT_TRUE(broker.Start());
    auto second = broker.Subscribe();
    EXPECT_TRUE(second->WaitForOutput(kBase + "/bridge/state online", 30s)) << daemon->Finish().err;
    EXPECT_TRUE(second->WaitForOutput("\"host_lqi\":119", 30s)) << daemon->Finish().err;
    EXPECT_TRUE(second->WaitForOutput("\"suspended\":true", 30s)) << daemon->Finish().err;
    EXPECT_TRUE(second->WaitForOutput("\"size\":5000", 30s)) << daemon->Finish().err;

    ::kill(daemon->Pid(), SIGTERM);
    const Result r = daemon->Finish(10s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(second->WaitForOutput(kBase + "/bridge/state offline", 10s)) << r.err;
    // What the broker acknowledged is not sent again after the next start.
    meradon::Database store(outputDir + "/history.sqlite", meradon::Database::Access::ReadOnly);
    EXPECT_EQ(store.QueryInt("SELECT count(*) FROM outbox"), 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Meradond, BridgeUnderFaults,
                         ::testing::Values(BridgeCase{"BrokerRestart", Upset::kBrokerRestart},
                                           BridgeCase{"GatewayKilled", Upset::kGatewayKilled},
                                           BridgeCase{"GatewayKilledWhileBrokerAway",
                                                      Upset::kGatewayKilledWhileBrokerAway},
                                           BridgeCase{"OutboxFullWhileBrokerAway", Upset::kOutboxFullWhileBrokerAway,
                                                      2048}),
                         [](const auto &info) { return std::string(info.param.name); });

// A gateway on hostsim (stations 2 and 3 active, 4 present) with a send directory that
// holds hello.bin and a link that leads out of it, and a subscriber to the whole base.
class Gateway {
public:
    explicit Gateway(const std::string &name)
        : broker(FreeTcpPort()), sendDir(TempPath("send-" + name)), outside(TempPath("outside-" + name)) {
        EXPECT_TRUE(broker.Start());
        sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
        sim->AddStations({kStation, 3}, true);
        sim->AddStations({4}, false);
        std::filesystem::remove_all(sendDir);
        std::filesystem::create_directories(sendDir);
        std::ofstream(sendDir + "/hello.bin", std::ios::binary).write(reinterpret_cast<const char *>(hello.data()),
                                                                        static_cast<std::streamsize>(hello.size()));
        std::ofstream(sendDir + "/big.bin") << std::string(200'000, 'B');
        std::ofstream(outside) << "not for the network";
        std::filesystem::create_symlink(outside, sendDir + "/out-link");
        const std::string settings = TempPath("requests-" + name + ".toml");
        std::ofstream(settings) << "local_port = " << FreeUdpPort() << "\n";
        daemon = std::make_unique<Child>(
            MERADOND_PATH,
            std::vector<std::string>{"--config", settings, "--connect", "127.0.0.1:" + std::to_string(sim->Port()),
                                     "--output-dir", TempPath("requests-out-" + name), "--send-dir", sendDir,
                                     "--broker", broker.Url(), "--base", kBase},
            std::vector<std::string>{});
        watcher = broker.Subscribe();
        EXPECT_TRUE(watcher->WaitForOutput("\"mode\":\"data\"", 20s)) << daemon->Finish().err;
    }

    Broker broker;
    std::string sendDir, outside;
    std::vector<uint8_t> hello = MakeContent(3000);
    std::unique_ptr<hostsim::HostSim> sim;
    std::unique_ptr<Child> daemon;
    std::unique_ptr<Child> watcher;

private:
    static std::vector<uint8_t> MakeContent(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        return bytes;
    }
};

enum class Volume { kOne, kTenMiB, kQueueFull };

struct RequestCase {
    const char *name;
    const char *command;
    std::string payload;
    std::string answer;   // on the subscriber, below the base
    std::string logged;   // or in meradond's log, when no id can be read
    std::vector<uint8_t> arrivesAt = {};  // stations that must get the file whole
    Volume volume = Volume::kOne;
};

void PrintTo(const RequestCase &c, std::ostream *os) { *os << c.name; }

class BridgeRequests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(BridgeRequests, AreRunOrRefused) {
    const RequestCase &c = GetParam();
    Gateway gw(c.name);
    std::vector<uint8_t> sent = gw.hello;
    if (c.volume == Volume::kTenMiB) {
        const std::string file = TempPath("ten-mib.json");
        std::ofstream(file) << "{\"id\":\"big\",\"data\":\"" << std::string(10 * 1024 * 1024, 'A') << "\"}";
        gw.broker.PublishFile(std::string("request/") + c.command, file);
    } else if (c.volume == Volume::kQueueFull) {
        // One sending runs, 16 wait, and the next is refused; a cancel ends the first.
        gw.broker.PublishLines("request/send", R"({"id":"q0","stations":[2],"file":"big.bin"})");
        ASSERT_TRUE(gw.watcher->WaitForOutput(kBase + "/sending {\"done\":", 20s)) << gw.daemon->Finish().err;
        std::string lines;
        for (int i = 1; i <= 17; ++i)
            lines += R"({"id":"q)" + std::to_string(i) + R"(","stations":[3],"file":"hello.bin"})" + "\n";
        gw.broker.PublishLines("request/send", lines);
        ASSERT_TRUE(gw.watcher->WaitForOutput(kBase + R"(/response/send {"error":"queue full","id":"q17","ok":false})",
                                              20s))
            << gw.daemon->Finish().err;
        gw.broker.PublishLines("request/cancel", R"({"id":"c"})");
        EXPECT_TRUE(gw.watcher->WaitForOutput(kBase + R"(/response/cancel {"cancelled":true,"id":"c","ok":true})", 20s));
    } else {
        gw.broker.PublishLines(std::string("request/") + c.command, c.payload);
    }
    if (!c.answer.empty()) {
        EXPECT_TRUE(gw.watcher->WaitForOutput(kBase + "/" + c.answer, 30s))
            << gw.daemon->Finish(1s).err << gw.watcher->Finish(1s).out;
    }
    if (!c.logged.empty()) {
        EXPECT_TRUE(gw.daemon->WaitForError(c.logged, 20s)) << gw.daemon->Finish().err;
    }
    if (c.payload.find("\"data\"") != std::string::npos) sent.assign({'h', 'i', '!'});
    if (!c.arrivesAt.empty()) {
        EXPECT_TRUE(gw.watcher->WaitForOutput(",\"pass\":1,\"size\":" + std::to_string(sent.size()) + "}", 1s));
    }
    for (uint8_t station : c.arrivesAt) {
        const auto files = gw.sim->ReceivedFiles(station);
        ASSERT_EQ(files.size(), 1u) << int(station);
        EXPECT_TRUE(files[0].crcOk);
        EXPECT_EQ(files[0].data, sent);
    }
    if (c.arrivesAt.empty() && c.volume == Volume::kOne) {
        for (uint8_t station : {2, 3}) EXPECT_TRUE(gw.sim->ReceivedFiles(station).empty());
    }
}

const std::string kOutside = R"(response/send {"error":"file must stay inside the send directory",)";

INSTANTIATE_TEST_SUITE_P(
    Meradond, BridgeRequests,
    ::testing::Values(
        RequestCase{"FileInSendDir", "send", R"({"id":"file","stations":[2],"file":"hello.bin"})",
                    R"(response/send {"id":"file","ok":true,"results":[{"ok":true,"reason":"成功","station":2}]})", "",
                    {2}},
        RequestCase{"Data", "send", R"({"id":7,"stations":[3],"data":"aGkh","name":"hi.txt"})",
                    R"(response/send {"id":7,"ok":true,"results":[{"ok":true,"reason":"成功","station":3}]})", "", {3}},
        RequestCase{"Broadcast", "send", R"({"id":"all","stations":"broadcast","file":"hello.bin"})",
                    R"(response/send {"id":"all","ok":true,"results":[{"ok":true,"reason":"成功","station":2},)"
                    R"({"ok":true,"reason":"成功","station":3}]})",
                    "", {2, 3}},
        RequestCase{"DotDot", "send", R"({"id":"up","stations":[2],"file":"../outside-DotDot"})",
                    kOutside + R"("id":"up","ok":false})", ""},
        RequestCase{"Absolute", "send", R"({"id":"abs","stations":[2],"file":"/etc/hostname"})",
                    kOutside + R"("id":"abs","ok":false})", ""},
        RequestCase{"SymlinkOut", "send", R"({"id":"link","stations":[2],"file":"out-link"})",
                    kOutside + R"("id":"link","ok":false})", ""},
        RequestCase{"BadJson", "send", R"({"id":"j","stations":[2],)", "", "refused: the request is not JSON"},
        RequestCase{"WrongType", "send", R"({"id":"t","stations":[2],"file":"hello.bin","loop":"yes"})",
                    R"(response/send {"error":"loop must be true or false","id":"t","ok":false})", ""},
        RequestCase{"MissingId", "send", R"({"stations":[2],"file":"hello.bin"})", "",
                    "refused: the request has no id"},
        RequestCase{"StationOutOfRange", "send", R"({"id":"r","stations":[2,255],"file":"hello.bin"})",
                    R"(response/send {"error":"each of stations must be 1 to 254","id":"r","ok":false})", ""},
        RequestCase{"UnknownCommand", "format", R"({"id":"u"})",
                    R"(response/format {"error":"unknown command \"format\"","id":"u","ok":false})", ""},
        RequestCase{"TenMiB", "send", "", "", "refused: the request is larger than 1048576 bytes", {},
                    Volume::kTenMiB},
        RequestCase{"QueueFull", "send", "",
                    R"(response/send {"error":"not every station received the file","id":"q0","ok":false,)"
                    R"("results":[{"ok":false,"reason":"失败: 已取消","station":2}]})",
                    "", {}, Volume::kQueueFull},
        RequestCase{"Info", "info", R"({"id":"i"})", R"(response/info {"host":{"broadcast")", ""},
        RequestCase{"SetReceiver", "set_receiver", R"({"id":"rx","station":"broadcast"})",
                    R"(response/set_receiver {"id":"rx","ok":true,"receiver":"broadcast"})", ""},
        RequestCase{"AddStation", "add_station", R"({"id":"add","station":4})",
                    R"(response/add_station {"id":"add","ok":true,"stations":[)", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// Thousands of requests, good and bad, while station 2 sends a file: the file arrives
// whole, the refusals without an id are logged once a second at most, and the gateway
// still answers afterwards.
TEST(BridgeRequestFlood, LeavesReceptionWhole) {
    Gateway gw("Flood");
    std::string lines;
    for (int i = 0; i < 20'000; ++i) {
        switch (i % 4) {
        case 0: lines += "{\"id\":" + std::to_string(i) + "}\n"; break;
        case 1: lines += "{\"id\":" + std::to_string(i) + ",\n"; break;
        case 2: lines += "[]\n"; break;
        default: lines += "{\"id\":true}\n"; break;
        }
    }
    // The flood itself is not watched: a subscriber to it would get the file's message
    // only after every request before it.
    gw.watcher.reset();
    gw.watcher = gw.broker.Subscribe({"station/+/received", "response/info"});
    const std::string file = TempPath("flood-lines"), stop = TempPath("flood-stop");
    std::ofstream(file) << lines;
    std::filesystem::remove(stop);
    // Again and again until the file has arrived, so that the flood spans its reception.
    Child flood("sh", {"-c", "while [ ! -e '" + stop + "' ]; do mosquitto_pub -h 127.0.0.1 -p " +
                                 std::to_string(gw.broker.Port()) + " -q 0 -t " + kBase + "/request/info -l < '" +
                                 file + "' || exit 1; done"},
                {});
    ASSERT_TRUE(gw.daemon->WaitForError("refused", 20s)) << gw.daemon->Finish().err;
    const std::vector<uint8_t> content(40'000, 0x3C);
    gw.sim->SendFileFromStation(kStation, content);
    EXPECT_TRUE(gw.watcher->WaitForOutput("\"crc\":\"ok\",\"data\":", 60s)) << gw.daemon->Finish().err;
    EXPECT_TRUE(gw.watcher->WaitForOutput("\"size\":40000", 1s));
    std::ofstream{stop};
    EXPECT_EQ(flood.Finish().status, 0);
    gw.broker.PublishLines("request/info", R"({"id":"after"})");
    EXPECT_TRUE(gw.watcher->WaitForOutput(R"("id":"after","link":)", 20s)) << gw.daemon->Finish().err;
    ::kill(gw.daemon->Pid(), SIGTERM);
    const Result r = gw.daemon->Finish(10s);
    std::istringstream log(r.err);
    int refusalLines = 0;
    for (std::string line; std::getline(log, line);) refusalLines += line.find("refused") != std::string::npos;
    EXPECT_GE(refusalLines, 1);
    EXPECT_LE(refusalLines, 30) << "refusals without an id are logged once a second at most";
}

}  // namespace
}  // namespace clitest
