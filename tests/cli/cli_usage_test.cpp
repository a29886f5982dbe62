// The program's contract with scripts and people: help on every level, exit status 2 for
// bad usage, and ports that cannot be opened say why. Serial links run over hostsim's pty.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "cli/commands.h"
#include "cli/link_open.h"
#include "manager/core/history/database.h"
#include "manager/core/history/history_store.h"
#include "manager/core/quality_values.h"
#include "setup/text_encoding.h"
#include "tests/cli/cli_fixture.h"

namespace clitest {
namespace {

TEST(CliUsage, HelpOnEveryLevelDocumentsEveryOption) {
    const Result top = RunProgram({"--help"});
    ASSERT_EQ(top.status, 0);
    for (const cli::Command &c : cli::AllCommands()) {
        EXPECT_NE(top.out.find(std::string("  ") + c.name + " "), std::string::npos) << c.name;
        const Result help = RunProgram({c.name, "--help"});
        EXPECT_EQ(help.status, 0) << c.name;
        EXPECT_EQ(help.out.rfind(std::string("usage: tevrolink ") + c.name, 0), 0u) << help.out;
        for (const cli::OptionSpec &o : c.options)
            EXPECT_NE(help.out.find(o.name), std::string::npos) << c.name << " " << o.name;
        if (c.usesLink) {
            for (const cli::OptionSpec &o : cli::kLinkOptions)
                EXPECT_NE(help.out.find(o.name), std::string::npos) << c.name << " " << o.name;
        }
        EXPECT_NE(help.out.find("--json"), std::string::npos) << c.name;
    }
    EXPECT_EQ(RunProgram({"help", "set"}).out, RunProgram({"set", "-h"}).out);
}

// The `--name` words of a text.
std::set<std::string> OptionsIn(const std::string &text) {
    static const std::regex option("--[a-z][a-z0-9-]*");
    return {std::sregex_token_iterator(text.begin(), text.end(), option), std::sregex_token_iterator()};
}

// A manual page as it reads: roff's font changes gone, its "\-" a hyphen.
std::string ManualText(const std::string &path) {
    std::string text = std::regex_replace(ReadWholeFile(path), std::regex(R"(\\f[BIRP])"), "");
    return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The next command or option cannot be left out of the manual page, nor an old one stay.
TEST(CliUsage, ManualPagesListWhatTheHelpLists) {
    const std::string overview = RunProgram({"--help"}).out;
    std::set<std::string> helpOptions = OptionsIn(overview);
    std::set<std::string> commands;
    bool inCommands = false;
    for (const std::string &line : Lines(overview)) {
        if (line == "Commands:") inCommands = true;
        else if (line.empty()) inCommands = false;
        else if (inCommands) commands.insert(line.substr(2, line.find(' ', 2) - 2));
    }
    ASSERT_GE(commands.size(), 10u) << overview;
    const std::string page = ManualText(TEVROLINK_MANUAL_PATH);
    for (const std::string &command : commands) {
        // An entry of its own under COMMANDS: ".B name", ".BI name ..." or ".BI "name verb" ...".
        const std::regex entry("\n\\.TP\n\\.BI? \"?" + command + "[ \"\n]");
        EXPECT_TRUE(std::regex_search(page, entry)) << "tevrolink.1 has no entry for " << command;
        const std::set<std::string> own = OptionsIn(RunProgram({command, "--help"}).out);
        helpOptions.insert(own.begin(), own.end());
    }
    EXPECT_EQ(OptionsIn(page), helpOptions) << "tevrolink.1 and the help name other options";

    const Result simHelp = Child(HOSTSIM_PATH, {"--help"}, {}).Finish();
    ASSERT_EQ(simHelp.status, 0) << simHelp.err;
    EXPECT_EQ(OptionsIn(ManualText(HOSTSIM_MANUAL_PATH)), OptionsIn(simHelp.out))
        << "hostsim.1 and hostsim --help name other options";
}

TEST(CliUsage, BadUsageEndsWithStatusTwoAndOneSentence) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"info"},  // no link
        {"--port", "ttyUSB0", "--udp", "127.0.0.1", "info"},
        {"--udp", "300.1.1.1", "info"},
        {"--udp", "127.0.0.1:0", "info"},
        {"--udp", "255.255.255.255", "info"},
        {"--udp", "127.0.0.1", "--local-port", "0", "info"},
        {"--udp", "127.0.0.1", "--baud", "9600", "info"},
        {"--port", "ttyUSB0", "--local-port", "9", "info"},
        {"--port", "ttyUSB0", "--baud", "fast", "info"},
        {"ports", "--port", "ttyUSB0"},
        {"detect"},
        {"--port", "ttyUSB0", "info", "--json", "--json"},
        {"--port", "ttyUSB0", "flash-read", "out.bin"},
        {"--port", "ttyUSB0", "activate"},
        {"configure", "00-1A-2B-3C-4D"},
        {"configure", "00-1A-2B-3C-4D-5E"},
        {"configure", "00-1A-2B-3C-4D-5E", "colour=red"},
        {"configure", "00-1A-2B-3C-4D-5E", "mask=255.0.255.0"},
        {"configure", "00-1A-2B-3C-4D-5E", "ip=10.0.0"},
        {"configure", "00-1A-2B-3C-4D-5E", "centre-port=70000"},
        {"configure", "00-1A-2B-3C-4D-5E", "description=一二三四五六七八九十一二三四五六"},
        {"quality"},
        {"quality", "a.csv", "--station", "255"},
        {"history"},
        {"history", "everything"},
        {"history", "quality"},
        {"history", "sendings", "--since", "yesterday"},
        {"history", "receptions", "--failed"},
    };
    for (const auto &args : cases) {
        const Result r = RunProgram(args);
        std::string shown;
        for (const auto &a : args) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown << r.err;
        ASSERT_EQ(Lines(r.err).size(), 1u) << shown << r.err;
        EXPECT_EQ(r.err.rfind("tevrolink: ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "") << shown;
    }
}

TEST(CliUsage, PortThatCannotBeOpenedSaysWhy) {
    const std::string missing = "/dev/tevrolink-test-missing";
    const Result info = RunProgram({"--port", missing, "info"});
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err, "tevrolink: cannot open serial port " + missing +
                            ": it is missing (no such device; see tevrolink ports)\n");

    // The search prints the engine's lines up to the failed open, then the reason.
    const Result detect = RunProgram({"detect", missing});
    EXPECT_EQ(detect.status, 1);
    const auto lines = Lines(detect.out);
    ASSERT_EQ(lines.size(), 5u) << detect.out;
    EXPECT_EQ(lines[0], "                   通过串口 " + missing + " 搜索设备");
    EXPECT_EQ(lines[3], "[1]  正在测试波特率 9600 ...");
    EXPECT_EQ(lines[4], "       打开串口设备 " + missing + " 失败");
    EXPECT_NE(detect.err.find("it is missing"), std::string::npos) << detect.err;

    // Another program holding the port.
    auto sim = hostsim::HostSim::StartPty();
    const int held = open(sim->PtyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const Result busy = RunProgram({"--port", sim->PtyPath(), "info"});
    close(held);
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("busy, held by another program"), std::string::npos) << busy.err;
}

TEST(CliUsage, PermissionProblemNamesTheOwningGroup) {
    const group *dialout = getgrnam("dialout");
    if (!dialout) GTEST_SKIP() << "this machine has no group dialout to own a test device";
    const std::string device = TempPath("ttyFAKE0");
    std::ofstream(device).put('x');
    ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
    EXPECT_EQ(cli::SerialOpenError(device, EACCES),
              "cannot open serial port " + device + ": permission denied; join the group dialout that owns it and log in again");
    EXPECT_NE(cli::SerialOpenError("ttyUSB7", EBUSY).find("/dev/ttyUSB7"), std::string::npos);
}

TEST(CliSerial, DetectFindsTheRateAndInfoUsesIt) {
    hostsim::PtyOptions options;
    options.baud = 38400;
    auto sim = hostsim::HostSim::StartPty(options);
    const std::string port = sim->PtyPath();

    const Result detect = RunProgram({"detect", port, "--json"});
    ASSERT_EQ(detect.status, 0) << detect.err;
    const std::optional<Json> doc = ParseJson(detect.out);
    ASSERT_TRUE(doc) << detect.out;
    EXPECT_EQ((*doc)["baud"].Int(), 38400);
    const Json &log = (*doc)["log"];
    // Headings, four tries (9600, 14400 and 19200 unanswered), the detection lines.
    ASSERT_EQ(log.Size(), 11u);
    EXPECT_EQ(log[5].Str(), "[3]  正在测试波特率 19200 ...");
    EXPECT_EQ(log[6].Str(), "[4]  正在测试波特率 38400 ...");
    EXPECT_EQ(log[7].Str(), "       检测到设备 HostSim V1.00");
    EXPECT_EQ(log[10].Str(), "[X]  本机串口 " + port + " 波特率为 38400");

    const Result info = RunProgram({"--port", port, "--baud", "38400", "info", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const std::optional<Json> settings = ParseJson(info.out);
    ASSERT_TRUE(settings) << info.out;
    EXPECT_EQ((*settings)["station"].Int(), sim->Settings().nodeId);
    EXPECT_EQ((*settings)["firmware"].Str(), "HostSim V1.00");

    const Result wrongRate = RunProgram({"--port", port, "info"});
    EXPECT_EQ(wrongRate.status, 1) << "19200 is not the rate the host node answers at";
}

TEST(CliQuality, SummaryPerStationOfTheManagersFile) {
    const std::string path = TempPath("link-quality 24-05-06.csv");
    {
        std::ofstream file(path);
        file << meradon::kQualityHeader << "\n";
        const meradon::LocalTime t{2024, 5, 6, 13, 45, 10};
        file << meradon::QualityLine(t, 9, {0x90, 0xA0, 0x40, 0x50}) << "\n";
        file << meradon::QualityLine(t, 5, {10, 20, 30, 40}) << "\n";
        file << "garbage,line\n";
        file << meradon::QualityLine({2024, 5, 6, 23, 59, 59}, 5, {13, 20, 31, 44}) << "\n";
    }
    const Result all = RunProgram({"quality", path, "--json"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.err, "tevrolink: 1 line that is no quality line skipped\n");
    const std::optional<Json> doc = ParseJson(all.out);
    ASSERT_TRUE(doc) << all.out;
    const Json &stations = (*doc)["stations"];
    ASSERT_EQ(stations.Size(), 2u);
    const Json &five = stations[0];
    EXPECT_EQ(five["station"].Int(), 5);
    EXPECT_EQ(five["packets"].Int(), 2);
    EXPECT_EQ(five["from"].Str(), "2024-05-06 13:45:10");
    EXPECT_EQ(five["to"].Str(), "2024-05-06 23:59:59");
    EXPECT_EQ(five["peer_lqi"]["last"].Int(), 13);
    EXPECT_EQ(five["peer_lqi"]["min"].Int(), 10);
    EXPECT_DOUBLE_EQ(five["peer_lqi"]["mean"].Number(), 11.5);
    EXPECT_EQ(five["host_rssi"]["max"].Int(), 44);
    EXPECT_EQ(stations[1]["host_lqi"]["mean"].Number(), 160);

    const Result one = RunProgram({"quality", path, "--station", "9"});
    ASSERT_EQ(one.status, 0) << one.err;
    const auto lines = Lines(one.out);
    ASSERT_EQ(lines.size(), 2u) << one.out;
    EXPECT_EQ(lines[1].rfind("9 ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("144 144/144.0/144"), std::string::npos) << lines[1];

    EXPECT_EQ(RunProgram({"quality", TempPath("missing.csv")}).status, 1);
}

TEST(CliQuality, OnlyLinesAsTheManagerWritesThemCount) {
    const std::vector<std::string> notQuality = {
        "hello,5,9,9,9,9",                    // no time
        "2024-05-06 13:45:10,5,-4294967295,9,9,9",
        "2024-05-06 13:45:10,4294967301,9,9,9,9",  // would wrap round to station 5
        "2024-05-06 13:45:10, 5,9,9,9,9",
        "2024-05-06 13:45:10,+6,9,9,9,9",
        "2024-05-06 13:45:10,05,9,9,9,9",
        "2024-05-06 13:45:10,0,9,9,9,9",
        "2024-05-06 13:45:10,255,9,9,9,9",
        "2024-05-06 13:45:10,5,9,9,9,256",
        "2024-05-06 13:45:10,5,9,9,9",
        "2024-05-06 13:45:10,5,9,9,9,9,9",
        "2024-05-06 13:45:10,5,9,9,9,9 ",
        "2024-02-30 13:45:10,5,9,9,9,9",
        "2023-02-29 13:45:10,5,9,9,9,9",
        "2024-05-06 24:00:00,5,9,9,9,9",
        "2024-05-06T13:45:10,5,9,9,9,9",
    };
    const std::string path = TempPath("link-quality 24-05-07.csv");
    {
        std::ofstream file(path);
        file << meradon::kQualityHeader << "\n";
        for (const std::string &line : notQuality) file << line << "\n";
        file << "2024-02-29 23:59:59,254,0,255,7,80\r\n";  // a leap day, written on Windows
    }
    const Result r = RunProgram({"quality", path, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "tevrolink: " + std::to_string(notQuality.size()) +
                         " lines that are no quality lines skipped\n");
    const Json doc = ParseJson(r.out).value_or(Json{});
    ASSERT_EQ(doc["stations"].Size(), 1u) << r.out;
    EXPECT_EQ(doc["stations"][0]["station"].Int(), 254);
    EXPECT_EQ(doc["stations"][0]["host_lqi"]["max"].Int(), 255);
    EXPECT_EQ(doc["skipped_lines"].Int(), static_cast<int>(notQuality.size()));

    // What is no quality file at all fails, with a sentence saying so.
    const std::string garbage = TempPath("notes.csv");
    std::ofstream(garbage) << "hello,5,9,9,9,9\nsomething else\n";
    for (const std::string &file : {garbage, std::filesystem::path(path).parent_path().string()}) {
        const Result refused = RunProgram({"quality", file});
        EXPECT_EQ(refused.status, 1) << file;
        EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
        EXPECT_EQ(refused.out, "") << file;
    }

    // A directory named in GBK, as a Windows machine wrote it: the document stays UTF-8.
    const std::string gbkDir = std::filesystem::path(path).parent_path() / tevrolink::Utf8ToGbk("质量记录");
    std::filesystem::create_directory(gbkDir);
    std::filesystem::copy_file(path, gbkDir + "/day.csv");
    const Result gbk = RunProgram({"quality", gbkDir + "/day.csv", "--json"});
    ASSERT_EQ(gbk.status, 0) << gbk.err;
    const std::optional<Json> named = ParseJson(gbk.out);
    ASSERT_TRUE(named) << gbk.out;
    EXPECT_NE((*named)["file"].Str().find("/质量记录/day.csv"), std::string::npos) << (*named)["file"].Str();
}

// The store as the manager leaves it while it runs: the tool reads what is committed
// while another connection holds the write lock in the middle of a transaction.
TEST(CliQuality, HistoryOfTheStoreWhileItIsWritten) {
    const std::filesystem::path dir = TempPath("history");
    std::filesystem::remove_all(dir);
    const std::string db = (dir / meradon::kHistoryFileName).string();
    meradon::HistoryStore store;
    store.Open(dir, {});
    meradon::SendingRecord sending;
    sending.id = 1;
    sending.path = "/srv/image.bin";
    sending.size = 4096;
    sending.start = {2024, 5, 6, 9, 0, 0};
    sending.durationMs = 2500;
    sending.mode = meradon::SendMode::Broadcast;
    sending.stations = {{3, meradon::StationOutcome::Succeeded}, {9, meradon::StationOutcome::Suspended}};
    store.Add(meradon::SendingFact{sending});
    sending.id = 2;
    sending.stations = {{3, meradon::StationOutcome::Succeeded}};
    store.Add(meradon::SendingFact{sending});
    store.Add(meradon::ReceptionFact{7, "/home/op/Meradon/1-7.txt", 300, 300u, "wrong_crc",
                                     {2024, 5, 6, 9, 1, 0}, {2024, 5, 6, 9, 1, 2}});
    store.Add(meradon::QualityFact{{2024, 5, 6, 10, 0, 0}, 5, {10, 20, 30, 40}});
    store.Add(meradon::QualityFact{{2024, 5, 6, 23, 59, 59}, 5, {13, 20, 31, 44}});
    store.Add(meradon::QualityFact{{2024, 5, 7, 0, 0, 0}, 5, {99, 99, 99, 99}});
    ASSERT_TRUE(store.Flush());
    meradon::Database writer(db, meradon::Database::Access::ReadWrite);
    writer.Exec("BEGIN IMMEDIATE; DELETE FROM quality");

    const Result failed = RunProgram({"history", "sendings", "--db", db, "--failed", "--station", "9", "--json"});
    ASSERT_EQ(failed.status, 0) << failed.err;
    const std::optional<Json> doc = ParseJson(failed.out);
    ASSERT_TRUE(doc) << failed.out;
    ASSERT_EQ((*doc)["sendings"].Size(), 1u) << failed.out;
    const Json &first = (*doc)["sendings"][0];
    EXPECT_EQ(first["file"].Str(), "/srv/image.bin");
    EXPECT_EQ(first["start"].Str(), "2024-05-06 09:00:00");
    EXPECT_EQ(first["mode"].Str(), "broadcast");
    EXPECT_EQ(first["stations"][1]["reason"].Str(), "suspended");
    EXPECT_EQ(Lines(RunProgram({"history", "sendings", "--db", db}).out).size(), 3u) << "a header and both";

    const Result received = RunProgram({"history", "receptions", "--db", db, "--station", "7"});
    ASSERT_EQ(received.status, 0) << received.err;
    EXPECT_NE(received.out.find("wrong_crc"), std::string::npos) << received.out;

    const Result day = RunProgram({"history", "quality", "--db", db, "--station", "5", "--since",
                                   "2024-05-06", "--until", "2024-05-06", "--json"});
    ASSERT_EQ(day.status, 0) << day.err;
    const std::optional<Json> quality = ParseJson(day.out);
    ASSERT_TRUE(quality) << day.out;
    const Json &five = (*quality)["stations"][0];
    EXPECT_EQ(five["packets"].Int(), 2) << "the next day is not in the span";
    EXPECT_EQ(five["to"].Str(), "2024-05-06 23:59:59");
    EXPECT_DOUBLE_EQ(five["peer_lqi"]["mean"].Number(), 11.5);

    writer.Exec("ROLLBACK");
    store.Close();
    EXPECT_EQ(RunProgram({"history", "sendings", "--db", TempPath("none.sqlite")}).status, 1);
    std::filesystem::remove_all(dir);
}

TEST(CliPorts, ListingIsValidJson) {
    const Result r = RunProgram({"ports", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Json> doc = ParseJson(r.out);
    ASSERT_TRUE(doc) << r.out;
    EXPECT_TRUE((*doc)["ports"].IsArray());
}

}  // namespace
}  // namespace clitest
