// A hostsim on UDP 127.0.0.1 and the link options that point the program at it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/command_handlers.h"
#include "sim/host_sim.h"
#include "tests/cli/cli_runner.h"

namespace clitest {

using namespace std::chrono_literals;

class CliAgainstSim : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = hostsim::HostSim::StartUdp("127.0.0.1", 0);
        localPort_ = FreeUdpPort();
    }

    // The program's arguments with the link to the sim added.
    std::vector<std::string> Args(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--udp", "127.0.0.1:" + std::to_string(sim_->Port()), "--local-port",
                                   std::to_string(localPort_)});
        return args;
    }
    Result RunCli(const std::vector<std::string> &args) const { return RunProgram(Args(args)); }

    // Parses standard output as one JSON document; fails the test when it is not.
    static Json Document(const Result &r) {
        const std::optional<Json> json = ParseJson(r.out);
        EXPECT_TRUE(json.has_value()) << "not one JSON document:\n" << r.out;
        return json.value_or(Json{});
    }

    std::unique_ptr<hostsim::HostSim> sim_;
    uint16_t localPort_ = 0;
};

// The monitor is running once the host node has answered the request to turn its output
// on; what the sim sends after that answer reaches the monitor loop, not the command.
inline bool MonitorStarted(hostsim::HostSim &sim) {
    return sim
        .WaitForSent(
            [](const hostsim::RecordedFrame &f) {
                return f.Code() == (hostsim::kCmdMonitor | 0x80) && !f.Payload().empty() && f.Payload()[0] == 1;
            },
            hostsim::Millis(5000))
        .has_value();
}

}  // namespace clitest
