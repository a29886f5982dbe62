// meradond's MQTT bridge against a real broker (Debian's mosquitto, started here on a free
// loopback port): what the network does reaches the topics, also across a broker that is
// killed and started again, and a gateway that dies is announced by its last will.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "sim/host_sim.h"
#include "tests/cli/cli_runner.h"

namespace clitest {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kStation = 2;
const std::string kBase = "test/site";

// A TCP port on 127.0.0.1 that nobody holds now.
uint16_t FreeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

// mosquitto on 127.0.0.1, keeping nothing on disk: a restart forgets what was retained.
class Broker {
public:
    explicit Broker(uint16_t port) : port_(port), config_(TempPath("broker-" + std::to_string(port) + ".conf")) {
        std::ofstream(config_) << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
    }
    bool Start() {
        process_ = std::make_unique<Child>(MOSQUITTO_PATH, std::vector<std::string>{"-c", config_}, std::vector<std::string>{});
        return process_->WaitForError("running", 10s);
    }
    void Kill() {
        ::kill(process_->Pid(), SIGKILL);
        process_->Finish();
    }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    std::unique_ptr<Child> Subscribe() const {
        return std::make_unique<Child>("mosquitto_sub", std::vector<std::string>{"-h", "127.0.0.1", "-p",
                                        std::to_string(port_), "-v", "-t", kBase + "/#"},
                                       std::vector<std::string>{});
    }

private:
    uint16_t port_;
    std::string config_;
    std::unique_ptr<Child> process_;
};

enum class Upset { kBrokerRestart, kGatewayKilled };

struct BridgeCase {
    const char *name;
    Upset upset;
};

void PrintTo(const BridgeCase &c, std::ostream *os) { *os << c.name; }

class BridgeUnderFaults : public ::testing::TestWithParam<BridgeCase> {};

TEST_P(BridgeUnderFaults, TopicsCarryWhatTheNetworkDoes) {
    Broker broker(FreeTcpPort());
    ASSERT_TRUE(broker.Start());
    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    sim->AddStations({kStation}, true);
    const std::string settings = TempPath(std::string("bridge-") + GetParam().name + ".toml");
    std::ofstream(settings) << "local_port = " << FreeUdpPort() << "\n[mqtt]\nkeepalive = 5\n";
    Child daemon(MERADOND_PATH,
                 {"--config", settings, "--connect", "127.0.0.1:" + std::to_string(sim->Port()), "--output-dir",
                  TempPath(std::string("bridge-out-") + GetParam().name), "--broker", broker.Url(), "--base", kBase},
                 {});
    auto first = broker.Subscribe();
    ASSERT_TRUE(first->WaitForOutput(kBase + "/bridge/state online", 20s)) << daemon.Finish().err;
    ASSERT_TRUE(first->WaitForOutput("\"mode\":\"data\"", 20s)) << daemon.Finish().err;
    ASSERT_TRUE(first->WaitForOutput(kBase + "/station/2 {\"active\":true", 20s)) << daemon.Finish().err;

    if (GetParam().upset == Upset::kGatewayKilled) {
        ::kill(daemon.Pid(), SIGKILL);
        daemon.Finish();
        // The broker tells the world once the keep-alive (5 s here) has run out.
        EXPECT_TRUE(first->WaitForOutput(kBase + "/bridge/state offline", 20s));
        return;
    }
    broker.Kill();
    first->Finish(1s);
    // Meanwhile station 2 is suspended and its quality changes; the gateway notices.
    sim->UpdateStation(kStation, [](hostsim::Station &s) {
        s.suspended = true;
        s.hostLqi = 0x77;
    });
    sim->SendSignal(0x40, kStation);
    ASSERT_TRUE(broker.Start());
    auto second = broker.Subscribe();
    EXPECT_TRUE(second->WaitForOutput(kBase + "/bridge/state online", 30s)) << daemon.Finish().err;
    EXPECT_TRUE(second->WaitForOutput("\"host_lqi\":119", 30s)) << daemon.Finish().err;
    EXPECT_TRUE(second->WaitForOutput("\"suspended\":true", 30s)) << daemon.Finish().err;

    ::kill(daemon.Pid(), SIGTERM);
    const Result r = daemon.Finish(10s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(second->WaitForOutput(kBase + "/bridge/state offline", 10s)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Meradond, BridgeUnderFaults,
                         ::testing::Values(BridgeCase{"BrokerRestart", Upset::kBrokerRestart},
                                           BridgeCase{"GatewayKilled", Upset::kGatewayKilled}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace clitest
