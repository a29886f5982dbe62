// monitor: every kind of packet the host node sends is decoded, and the run stops on its
// count, its time or a signal, turning the monitor output off again.
#include <signal.h>

#include "link/frame.h"
#include "sim/command_handlers.h"
#include "tests/cli/cli_fixture.h"

namespace clitest {
namespace {

using hostsim::RecordedFrame;

TEST_F(CliAgainstSim, MonitorDecodesEveryKindOfPacket) {
    Child child(Args({"monitor", "--count", "4", "--json"}));
    ASSERT_TRUE(MonitorStarted(*sim_)) << child.Finish().err;
    const uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
    sim_->SendDataPacket(5, 0x1C, hello);  // file data, first and last
    sim_->SendSignal(0x40, 5);
    hostsim::DebugEvent event;
    event.subKind = 5;
    event.stationA = 5;
    event.stationB = 1;
    event.cmd = 0xE0;
    sim_->SendDebug(false, event);
    sim_->SendStatus(0x9C, 0);

    const Result r = child.Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    const Json doc = Document(r);
    ASSERT_EQ(doc["count"].Int(), 4);
    EXPECT_EQ(doc["stopped_by"].Str(), "count");
    ASSERT_EQ(doc["packets"].Size(), 4u);
    // The data packet goes through the node's link protocol, the others straight out, so
    // the order may differ; each kind comes once.
    std::map<std::string, Json> byType;
    for (std::size_t i = 0; i < 4; ++i) {
        const Json &packet = doc["packets"][i]["packet"];
        EXPECT_TRUE(byType.emplace(packet["type"].Str(), packet).second) << packet["type"].Str();
    }
    ASSERT_EQ(byType.size(), 4u);
    const Json &data = byType["data"];
    EXPECT_EQ(data["station"].Int(), 5);
    EXPECT_EQ(data["kind"].Str(), "file");
    EXPECT_EQ(data["flags"].Str(), "first,last");
    EXPECT_EQ(data["bytes"].Str(), "68656c6c6f");
    EXPECT_EQ(byType["signal"]["station"].Int(), 5);
    EXPECT_EQ(byType["signal"]["state"].Str(), "0x40");
    const Json &debug = byType["debug"];
    EXPECT_EQ(debug["kind"].Int(), 2);
    EXPECT_EQ(debug["event_name"].Str(), "node suspended");
    EXPECT_EQ(debug["station_a"].Int(), 5);
    EXPECT_EQ(debug["cmd"].Str(), "0xE0");
    EXPECT_EQ(byType["status"]["kind"].Str(), "answer");
    EXPECT_TRUE(sim_->Settings().dataMode);
    EXPECT_FALSE(sim_->Settings().monitor) << "monitor output turned off at the end";
}

TEST_F(CliAgainstSim, MonitorStopsCleanlyOnSigint) {
    Child child(Args({"monitor"}));
    ASSERT_TRUE(MonitorStarted(*sim_)) << child.Finish().err;
    const uint8_t data[] = {0x01, 0x02};
    sim_->SendDataPacket(7, 0x10, data);
    ASSERT_TRUE(child.WaitForOutput("bytes=0102", 5s));
    const std::size_t before = sim_->ReceivedCount();
    ASSERT_EQ(kill(child.Pid(), SIGINT), 0);
    const Result r = child.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("data station=7 kind=file flags=none length=2"), std::string::npos) << r.out;
    EXPECT_TRUE(sim_->WaitForReceived(hostsim::WithCode(hostsim::kCmdMonitor), hostsim::Millis(1000), before))
        << "the monitor output is turned off on the way out";
    EXPECT_FALSE(sim_->Settings().monitor);
}

TEST_F(CliAgainstSim, MonitorStopsAfterItsTime) {
    const Result r = RunCli({"monitor", "--seconds", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json doc = Document(r);
    EXPECT_EQ(doc["count"].Int(), 0);
    EXPECT_EQ(doc["stopped_by"].Str(), "time");
}

TEST(CliMonitor, EndsWithAnErrorWhenTheAdapterIsPulled) {
    auto sim = hostsim::HostSim::StartPty();
    // With retransmission support the client acknowledges packets, which tells when it
    // listens.
    Child child({"--port", sim->PtyPath(), "--handshake", "monitor", "--json"});
    ASSERT_TRUE(MonitorStarted(*sim)) << child.Finish().err;
    // Pulled once the client listens, not while the answer is still on the line (a
    // hang-up discards what the line holds).
    ASSERT_TRUE(sim->WaitForReceived(hostsim::WithCode(tevrolink::kCodeSyncConfirm), hostsim::Millis(5000)))
        << child.Finish().err;
    const std::size_t from = sim->ReceivedCount();
    sim->SendDataPacket(5, 0x1C, std::vector<uint8_t>{1});
    ASSERT_TRUE(sim->WaitForReceived(hostsim::WithCode(tevrolink::kCodeDataAck), hostsim::Millis(5000), from))
        << child.Finish().err;
    sim.reset();
    const Result r = child.Finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the line to the host node went away"), std::string::npos) << r.err;
    const auto doc = ParseJson(r.out);
    ASSERT_TRUE(doc) << r.out;
    EXPECT_EQ((*doc)["stopped_by"].Str(), "line lost");
}

}  // namespace
}  // namespace clitest
