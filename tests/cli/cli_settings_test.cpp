// info and set against hostsim: what the host node holds is what the program shows, and
// bad values never leave the PC.
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "sim/command_handlers.h"
#include "tests/cli/cli_fixture.h"

namespace clitest {
namespace {

using hostsim::HostSettings;
using hostsim::WithCode;

// "主机 V2" in GBK.
const hostsim::Bytes kGbkFirmware = {0xD6, 0xF7, 0xBB, 0xFA, ' ', 'V', '2'};

TEST_F(CliAgainstSim, InfoShowsWhatTheHostNodeHolds) {
    sim_->UpdateSettings([](HostSettings &s) {
        s.nodeId = 7;
        s.peer = 3;
        s.pointX1 = 5;
        s.pointX2 = 16;
        s.power = 4;
        s.handShake = true;
        s.firmware = kGbkFirmware;
    });
    sim_->AddStations({2, 5, 6, 7}, true);
    sim_->AddStations({9});

    const Result json = RunCli({"info", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const Json doc = Document(json);
    EXPECT_EQ(doc["station"].Int(), 7);
    EXPECT_EQ(doc["role"].Str(), "master");
    EXPECT_EQ(doc["peer"].Int(), 3);
    EXPECT_FALSE(doc["broadcast"].Bool());
    EXPECT_EQ(doc["freq1"].Int(), 5);
    EXPECT_EQ(doc["freq2"].Int(), 16);
    EXPECT_EQ(doc["power"]["level"].Int(), 4);
    EXPECT_EQ(doc["power"]["dbm"].Int(), -5);
    EXPECT_TRUE(doc["retransmission"].Bool());
    EXPECT_EQ(doc["firmware"].Str(), "主机 V2");
    ASSERT_EQ(doc["active"].Size(), 4u);
    EXPECT_EQ(doc["active"][0].Int(), 2);
    EXPECT_EQ(doc["active"][3].Int(), 7);
    // The host node retransmits while the PC side is off: the window's warning.
    EXPECT_NE(json.err.find("数据重传设置与设备不符"), std::string::npos) << json.err;

    const Result text = RunCli({"info", "--handshake"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("- 05 dBm"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("2,5-7"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("主机 V2"), std::string::npos) << text.out;
    EXPECT_EQ(text.err, "") << "PC and host node agree on retransmission";
}

TEST_F(CliAgainstSim, SetChangesEverySettingAndPrintsTheValueInForce) {
    struct Case {
        std::vector<std::string> args;
        std::function<bool(const HostSettings &)> applied;
    };
    const std::vector<Case> cases = {
        {{"station", "254"}, [](const HostSettings &s) { return s.nodeId == 254; }},
        {{"peer", "9"}, [](const HostSettings &s) { return s.peer == 9; }},
        {{"peer", "broadcast"}, [](const HostSettings &s) { return s.peer == 0; }},
        {{"freq1", "16"}, [](const HostSettings &s) { return s.pointX1 == 16; }},
        {{"freq2", "0"}, [](const HostSettings &s) { return s.pointX2 == 0; }},
        {{"power", "-20"}, [](const HostSettings &s) { return s.power == 7; }},
        {{"power", "+07 dBm"}, [](const HostSettings &s) { return s.power == 1; }},
        {{"power", "level 2"}, [](const HostSettings &s) { return s.power == 2; }},
        {{"power", "0 dBm"}, [](const HostSettings &s) { return s.power == 3; }},
        {{"retransmission", "on"}, [](const HostSettings &s) { return s.handShake; }},
        {{"baud", "57600"}, [](const HostSettings &s) { return s.baudCode == 0x28; }},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args{"set"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunCli(args);
        EXPECT_EQ(r.status, 0) << c.args[0] << " " << c.args[1] << ": " << r.err;
        EXPECT_TRUE(c.applied(sim_->Settings())) << c.args[0] << " " << c.args[1];
    }

    const Result power = RunCli({"set", "power", "-5", "--json"});
    ASSERT_EQ(power.status, 0) << power.err;
    const Json doc = Document(power);
    EXPECT_EQ(doc["setting"].Str(), "power");
    EXPECT_EQ(doc["value"]["level"].Int(), 4);
    EXPECT_EQ(doc["value"]["text"].Str(), "- 05 dBm");

    const Result clock = RunCli({"set", "clock"});
    ASSERT_EQ(clock.status, 0) << clock.err;
    const std::time_t now = std::time(nullptr);
    EXPECT_EQ(sim_->Settings().clock[6], std::localtime(&now)->tm_year + 1900 - 2000);
}

TEST_F(CliAgainstSim, BadValuesAreRefusedBeforeAnythingIsSent) {
    const std::string badProfile = TempPath("bad-profile.json");
    std::ofstream(badProfile) << R"({"station": 7, "freq1": 17})";
    const std::string oddProfile = TempPath("odd-profile.json");
    std::ofstream(oddProfile) << R"({"station": 7, "volume": 3})";
    const std::string deepProfile = TempPath("deep-profile.json");
    std::ofstream(deepProfile) << std::string(1000000, '[');
    const std::string hugeProfile = TempPath("huge-profile.json");
    std::ofstream(hugeProfile) << R"({"station": 1e999})";
    const std::string roleProfile = TempPath("role-profile.json");
    std::ofstream(roleProfile) << R"({"station": 7, "role": 42})";
    const std::string levelProfile = TempPath("level-profile.json");
    std::ofstream(levelProfile) << R"({"power": 0})";
    const std::string gbkProfile = TempPath("gbk-profile.json");
    std::ofstream(gbkProfile) << "{\"firmware\": \"\xd6\xd0\"}";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"set", "station", "0"}, "输入无效,有效的节点号码是 1-254"},
        {{"set", "station", "255"}, "输入无效,有效的节点号码是 1-254"},
        {{"set", "station", "12a"}, "输入无效,有效的节点号码是 1-254"},
        {{"set", "peer", "255"}, "输入无效,有效的节点号码是 1-254"},
        {{"set", "freq1", "17"}, "输入越界,有效的工作频点在0-16"},
        {{"set", "freq2", "-1"}, "输入越界,有效的工作频点在0-16"},
        {{"set", "power", "8"}, "power"},
        {{"set", "power", "+11"}, "power"},
        {{"set", "power", "0"}, "give it in dBm (\"-5 dBm\", \"+10\") or as a level (\"level 4\""},
        {{"set", "power", "level 8"}, "\"level 0\" to \"level 7\""},
        {{"set", "retransmission", "maybe"}, "on or off"},
        {{"set", "baud", "4800"}, "9600, 14400, 19200, 38400, 57600, 115200"},
        {{"set", "clock", "noon"}, "clock"},
        {{"set", "volume", "3"}, "no setting"},
        {{"set", "station"}, "needs a value"},
        {{"activate", "0,4"}, "输入无效,有效的节点号码是 1-254"},
        {{"suspend", "9-3"}, "backwards"},
        {{"flash-write", "x", "--station", "300"}, "输入无效,有效的节点号码是 1-254"},
        {{"flash-read", "x", "--size", "0"}, "size"},
        {{"monitor", "--count", "0"}, "count"},
        {{"info", "--frobnicate"}, "--frobnicate"},
        {{"settings", "load", badProfile}, "输入越界,有效的工作频点在0-16"},
        {{"settings", "load", oddProfile}, "volume"},
        {{"settings", "load", deepProfile}, "is no profile: not valid JSON"},
        {{"settings", "load", hugeProfile}, "number out of range"},
        {{"settings", "load", roleProfile}, "role must be \"master\" or \"slave\""},
        {{"settings", "load", levelProfile}, "bare number"},
        {{"settings", "load", gbkProfile}, "not UTF-8 text"},
        {{"settings", "save", "x.json", "--force"}, "--force belongs to settings load"},
    };
    for (const Case &c : cases) {
        const Result r = RunCli(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << c.args[1];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << "one sentence: " << r.err;
        EXPECT_EQ(r.out, "");
    }
    const Result missing = RunCli({"settings", "load", TempPath("missing.json")});
    EXPECT_EQ(missing.status, 1) << "a file that cannot be read is a failure, as for flash-write";
    EXPECT_NE(missing.err.find(": No such file or directory"), std::string::npos) << missing.err;
    const Result directory = RunCli({"settings", "load", std::filesystem::path(badProfile).parent_path()});
    EXPECT_EQ(directory.status, 1);
    EXPECT_NE(directory.err.find(": it is a directory"), std::string::npos) << directory.err;
    // Everything the sim received came after the refusals: the first frame is this one.
    ASSERT_EQ(RunCli({"set", "freq1", "3"}).status, 0);
    const auto received = sim_->Received();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front().Code(), hostsim::kCmdSetPointX1);
}

TEST_F(CliAgainstSim, SlaveNodeRefusesPeerAndBroadcast) {
    sim_->UpdateSettings([](HostSettings &s) {
        s.master = false;
        s.peer = 4;
    });
    const Result peer = RunCli({"set", "peer", "5"});
    EXPECT_EQ(peer.status, 1);
    EXPECT_NE(peer.err.find("从节点仅能向主节点发送数据,无需指定"), std::string::npos) << peer.err;
    const Result broadcast = RunCli({"set", "peer", "broadcast"});
    EXPECT_EQ(broadcast.status, 1);
    EXPECT_NE(broadcast.err.find("从节点不支持广播功能"), std::string::npos) << broadcast.err;
    EXPECT_EQ(sim_->Settings().peer, 4);
    for (const auto &f : sim_->Received()) EXPECT_NE(f.Code(), hostsim::kCmdSetPeer);
}

TEST_F(CliAgainstSim, HostNodeThatRefusesOrStaysSilentIsAFailure) {
    hostsim::ReplyFault keeps;
    keeps.payload = hostsim::Bytes{3};  // answers with the number it keeps
    sim_->SetReplyFault(hostsim::kCmdSetNodeId, keeps);
    const Result refused = RunCli({"set", "station", "8"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("refused"), std::string::npos) << refused.err;

    sim_->SetSilent(true);
    const Result silent = RunCli({"info", "--json"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("did not answer"), std::string::npos) << silent.err;
    EXPECT_EQ(silent.out, "") << "no half document on a failure";
}

TEST_F(CliAgainstSim, ProfileSavedFromOneNodeMakesAnotherEqual) {
    sim_->UpdateSettings([](HostSettings &s) {
        s.nodeId = 7;
        s.peer = 0;
        s.pointX1 = 5;
        s.pointX2 = 16;
        s.power = 4;
        s.handShake = true;
        s.firmware = kGbkFirmware;
    });
    const std::string profile = TempPath("node7.json");
    const Result saved = RunCli({"settings", "save", profile});
    ASSERT_EQ(saved.status, 0) << saved.err;

    auto other = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    other->UpdateSettings([](HostSettings &s) {
        s.nodeId = 3;
        s.peer = 9;
        s.pointX1 = 1;
    });
    const std::vector<std::string> link = {"--udp", "127.0.0.1:" + std::to_string(other->Port()),
                                           "--local-port", std::to_string(localPort_)};
    auto load = [&](std::vector<std::string> args) {
        args.insert(args.begin(), link.begin(), link.end());
        return RunProgram(args);
    };
    const Result dry = load({"settings", "load", profile, "--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.err.find("tevrolink: warning: the profile was saved from firmware \"主机 V2"), std::string::npos)
        << dry.err;
    EXPECT_NE(dry.out.find("station: 3 -> 7"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("peer: 9 -> broadcast"), std::string::npos) << dry.out;
    EXPECT_EQ(Lines(dry.out).size(), 7u) << "six differences and the dry-run note:\n" << dry.out;
    const std::set<uint8_t> reads = {hostsim::kCmdGetNodeId, hostsim::kCmdGetPeer,   hostsim::kCmdGetPointX1,
                                     hostsim::kCmdGetPointX2, hostsim::kCmdGetPower, hostsim::kCmdGetHandShake,
                                     hostsim::kCmdFirmware};
    for (const auto &f : other->Received())
        EXPECT_TRUE(reads.count(f.Code())) << "a dry run only reads; it sent code " << int(f.Code());
    EXPECT_EQ(other->Settings().nodeId, 3);

    const Result applied = load({"settings", "load", profile});
    ASSERT_EQ(applied.status, 0) << applied.err;
    const HostSettings a = sim_->Settings(), b = other->Settings();
    EXPECT_EQ(b.nodeId, a.nodeId);
    EXPECT_EQ(b.peer, a.peer);
    EXPECT_EQ(b.pointX1, a.pointX1);
    EXPECT_EQ(b.pointX2, a.pointX2);
    EXPECT_EQ(b.power, a.power);
    EXPECT_EQ(b.handShake, a.handShake);
    EXPECT_NE(b.firmware, a.firmware) << "the firmware text is for reference only";

    // Nothing differs now: a second load sends no change.
    const std::size_t before = other->ReceivedCount();
    ASSERT_EQ(load({"settings", "load", profile}).status, 0);
    const auto received = other->Received();
    for (std::size_t i = before; i < received.size(); ++i)
        EXPECT_NE(received[i].Code(), hostsim::kCmdSetNodeId);

    // A master's profile is not for a slave node: refused before anything is changed.
    other->UpdateSettings([](HostSettings &s) {
        s.master = false;
        s.peer = 4;
        s.pointX1 = 2;
    });
    const Result otherRole = load({"settings", "load", profile});
    EXPECT_EQ(otherRole.status, 1);
    EXPECT_NE(otherRole.err.find("the profile is of a master node and this host node is a slave"), std::string::npos)
        << otherRole.err;
    EXPECT_EQ(other->Settings().pointX1, 2);

    // Forced, a value the node does not take is named, and the load fails: a slave node
    // has no peer to set, the other differences still go in.
    const Result refused = load({"settings", "load", profile, "--force"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("did not take peer broadcast (it keeps 4); 从节点不支持广播功能"), std::string::npos)
        << refused.err;
    EXPECT_EQ(other->Settings().pointX1, 5);
}

TEST_F(CliAgainstSim, ProfileAsPeopleEditAndStoreIt) {
    // Saved by Notepad: a byte-order mark, a level and dBm as texts; --json shows the
    // units of the text.
    const std::string profile = TempPath("notepad.json");
    std::ofstream(profile) << "\xEF\xBB\xBF" << R"({"power": "level 6", "peer": "broadcast", "retransmission": "on"})";
    sim_->UpdateSettings([](HostSettings &s) { s.peer = 9; });
    const Result r = RunCli({"settings", "load", profile, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim_->Settings().power, 6);
    const Json doc = Document(r);
    ASSERT_EQ(doc["changes"].Size(), 3u) << r.out;
    EXPECT_EQ(doc["changes"][0]["setting"].Str(), "peer");
    EXPECT_EQ(doc["changes"][0]["from"].Int(), 9);
    EXPECT_EQ(doc["changes"][0]["to"].Str(), "broadcast");
    EXPECT_EQ(doc["changes"][1]["to"]["dbm"].Int(), -15);
    EXPECT_EQ(doc["changes"][1]["to"]["text"].Str(), "- 15 dBm");
    EXPECT_TRUE(doc["changes"][2]["to"].Bool());

    // A profile that cannot be written says why.
    for (const auto &[path, reason] : {std::pair<std::string, std::string>{"/dev/full", "No space left on device"},
                                       {TempPath("no-such-dir/p.json"), "No such file or directory"}}) {
        const Result failed = RunCli({"settings", "save", path});
        EXPECT_EQ(failed.status, 1) << path;
        EXPECT_EQ(failed.err, "tevrolink: cannot write the profile " + path + ": " + reason + "\n");
    }
}

}  // namespace
}  // namespace clitest
