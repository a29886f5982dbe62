// meradond's MQTT bridge against a real broker (Debian's mosquitto, started here on a free
// loopback port): what the network does reaches the topics, also across a broker that is
// stopped and started again, and a gateway that dies is announced by its last will. Files
// received while the broker is away reach it once it is back, in order, also when the
// gateway was killed and started again meanwhile.
#include <signal.h>

#include <filesystem>
#include <fstream>
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
    // A subscriber to everything below the base, with a session that outlives it.
    std::unique_ptr<Child> Subscribe() const {
        return std::make_unique<Child>("mosquitto_sub", std::vector<std::string>{"-h", "127.0.0.1", "-p",
                                        std::to_string(port_), "-c", "-i", "watcher", "-q", "1", "-v",
                                        "-t", kBase + "/#"},
                                       std::vector<std::string>{});
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

}  // namespace
}  // namespace clitest
