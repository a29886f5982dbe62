// activate, suspend, status and the Flash transfers against hostsim.
#include "tests/cli/cli_fixture.h"

namespace clitest {
namespace {

using hostsim::Station;

TEST_F(CliAgainstSim, ActivateSuspendAndStatusFollowTheHostNode) {
    sim_->AddStations({2, 3, 5, 8, 9, 10});

    const Result on = RunCli({"activate", "2,8-10", "--json"});
    ASSERT_EQ(on.status, 0) << on.err;
    const Json activated = Document(on);
    ASSERT_EQ(activated["activated"].Size(), 4u);
    EXPECT_EQ(activated["activated"][1].Int(), 8);
    EXPECT_EQ(activated["active"].Size(), 4u);
    EXPECT_TRUE(sim_->StationState(9).active);
    EXPECT_FALSE(sim_->StationState(3).active);

    const Result off = RunCli({"suspend", "9"});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_NE(off.out.find("active stations: 2,8,10"), std::string::npos) << off.out;
    EXPECT_FALSE(sim_->StationState(9).active);

    sim_->UpdateStation(5, [](Station &s) { s.suspended = true; });
    const Result status = RunCli({"status", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    const Json doc = Document(status);
    // Every present station is online; only 2, 8 and 10 are active; 5 is suspended.
    ASSERT_EQ(doc["stations"].Size(), 6u);
    for (std::size_t i = 0; i < doc["stations"].Size(); ++i) {
        const Json &row = doc["stations"][i];
        const Station s = sim_->StationState(static_cast<uint8_t>(row["station"].Int()));
        EXPECT_EQ(row["active"].Bool(), s.active) << row["station"].Int();
        EXPECT_EQ(row["online"].Bool(), s.online) << row["station"].Int();
        EXPECT_EQ(row["link"].Bool(), s.linked) << row["station"].Int();
        EXPECT_EQ(row["suspended"].Bool(), s.suspended) << row["station"].Int();
    }
    EXPECT_TRUE(doc["stations"][2]["suspended"].Bool());

    const Result table = RunCli({"status"});
    ASSERT_EQ(table.status, 0) << table.err;
    const auto lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 7u) << table.out;
    EXPECT_EQ(lines[0].rfind("STATION", 0), 0u);
}

TEST_F(CliAgainstSim, FlashWriteAndReadBackThroughTheHostNode) {
    const std::string source = MakeFile("host.bin", 1000);
    const Result write = RunCli({"flash-write", source, "--at", "100"});
    ASSERT_EQ(write.status, 0) << write.err;
    // The library's own progress figures, then the summary.
    EXPECT_NE(write.out.find("100.0%"), std::string::npos) << write.out;
    EXPECT_NE(write.out.find("wrote 1000 bytes"), std::string::npos) << write.out;
    const hostsim::Bytes flash = sim_->HostDevice(hostsim::kOutFlash);
    ASSERT_GE(flash.size(), 1100u);
    EXPECT_EQ(std::string(flash.begin() + 100, flash.begin() + 1100), ReadWholeFile(source));

    const std::string copy = TempPath("host-copy.bin");
    // With retransmission support the link first goes through the sync exchange.
    const Result read = RunCli({"flash-read", copy, "--size", "1000", "--at", "100", "--json", "--handshake"});
    ASSERT_EQ(read.status, 0) << read.err;
    // With --json the progress goes to standard error and standard output stays one document.
    const Json doc = Document(read);
    EXPECT_EQ(doc["bytes"].Int(), 1000);
    EXPECT_EQ(doc["at"].Int(), 100);
    EXPECT_NE(read.err.find("100.0%"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(copy), ReadWholeFile(source));
    EXPECT_GT(sim_->LinkStats().syncRequestsAnswered, 0u);
}

TEST_F(CliAgainstSim, FlashWriteToAStationGoesThroughTheRadioNetwork) {
    sim_->AddStations({6}, true);
    const std::string source = MakeFile("station.bin", 700, 3);
    const Result r = RunCli({"flash-write", source, "--station", "6", "--at", "32", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Document(r)["station"].Int(), 6);
    const hostsim::Bytes flash = sim_->StationDevice(6, hostsim::kOutFlash);
    ASSERT_GE(flash.size(), 732u);
    EXPECT_EQ(std::string(flash.begin() + 32, flash.begin() + 732), ReadWholeFile(source));
    EXPECT_FALSE(sim_->Settings().dataMode) << "back in command set mode afterwards";

    // A suspended station is reported, not waited for.
    sim_->UpdateStation(6, [](Station &s) { s.suspended = true; });
    const Result suspended = RunCli({"flash-write", source, "--station", "6"});
    EXPECT_EQ(suspended.status, 1);
    EXPECT_NE(suspended.err.find("suspended"), std::string::npos) << suspended.err;
}

TEST_F(CliAgainstSim, FlashWriteOfAnUnreadableOrEmptyFileSendsNothing) {
    const Result missing = RunCli({"flash-write", TempPath("no-such-file.bin")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
    const Result empty = RunCli({"flash-write", MakeFile("empty.bin", 0)});
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("empty"), std::string::npos) << empty.err;
    ASSERT_EQ(RunCli({"set", "freq2", "1"}).status, 0);
    EXPECT_EQ(sim_->Received().front().Code(), 0x32) << "the refused transfers sent nothing";
}

}  // namespace
}  // namespace clitest
