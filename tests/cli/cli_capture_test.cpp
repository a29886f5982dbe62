// Captures that the library writes for any of its clients (TEVROLINK_CAPTURE), and that
// hostsim writes, read by tshark with our dissector: the fields it decodes are the ones
// that crossed the link, damaged and malformed frames are marked, and the dissector raises
// no Lua error. Skipped where tshark is not installed.
#include <sys/stat.h>

#include <map>
#include <random>

#include "link/capture.h"
#include "link/frame.h"
#include "sim/device_emulator.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/private_network.h"

namespace clitest {
namespace {

// One decoded frame: field -> value as tshark prints it (repeated fields joined by ',').
using Decoded = std::map<std::string, std::string>;

const std::vector<std::string> kFields = {
    "tevrolink.command", "tevrolink.direction", "tevrolink.crc.status", "tevrolink.station",
    "tevrolink.role", "tevrolink.mode", "tevrolink.node", "tevrolink.attr.kind",
    "tevrolink.attr.first", "tevrolink.attr.last", "tevrolink.data", "tevrolink.status.flags.active",
    "tevrolink.status.credit", "tevrolink.status.buffer_size", "tevrolink.debug.event",
    "tevrolink.debug.station_a", "tevrolink.debug.station_b", "tevrolink.debug.cmd",
    "tevrolink.debug.h_lqi", "tevrolink.signal.state", "tevrolink.signal.station",
    "tevrolink.signal.peer_lqi", "tevrolink.signal.host_lqi", "tevrolink.signal.peer_rssi",
    "tevrolink.signal.host_rssi", "_ws.col.Info",
    "tevrolink.device.ip", "tevrolink.device.mac", "tevrolink.device.description",
    "tevrolink.firmware", "_ws.expert.message"};

bool TsharkMissing() { return Child("tshark", {"-v"}, {}).Finish().status != 0; }

#define SKIP_WITHOUT_TSHARK() \
    if (TsharkMissing()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)"

// Every frame of `capture` as the dissector decodes it, with `prefs` ("name:value") set.
std::vector<Decoded> Decode(const std::string &capture, const std::vector<std::string> &prefs = {}) {
    std::vector<std::string> args = {"-r", capture, "-X", std::string("lua_script:") + TEVROLINK_DISSECTOR_PATH};
    for (const std::string &p : prefs) args.insert(args.end(), {"-o", "tevrolink." + p});
    // The whole tree first: a dissector that fails shows "Lua Error" in it.
    std::vector<std::string> tree = args;
    tree.push_back("-V");
    const Result text = Child("tshark", tree, {}).Finish();
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.find("Lua Error"), std::string::npos) << text.out;
    EXPECT_EQ(text.err.find("Lua"), std::string::npos) << text.err;

    args.insert(args.end(), {"-T", "fields", "-E", "occurrence=a", "-E", "aggregator=,"});
    for (const std::string &f : kFields) args.insert(args.end(), {"-e", f});
    const Result fields = Child("tshark", args, {}).Finish();
    std::vector<Decoded> frames;
    for (const std::string &line : Lines(fields.out)) {
        Decoded d;
        std::size_t start = 0;
        for (const std::string &name : kFields) {
            const std::size_t tab = std::min(line.find('\t', start), line.size());
            d[name] = line.substr(start, tab - start);
            start = tab + 1;
        }
        frames.push_back(std::move(d));
    }
    return frames;
}

std::vector<Decoded> Named(const std::vector<Decoded> &frames, const std::string &command) {
    std::vector<Decoded> hits;
    for (const Decoded &d : frames)
        if (d.at("tevrolink.command") == command) hits.push_back(d);
    return hits;
}

// Values of tevrolink.direction.
const char kToNode[] = "1";
const char kFromNode[] = "2";

TEST_F(CliAgainstSim, CaptureOfAUdpSessionDecodesEveryKindOfFrame) {
    SKIP_WITHOUT_TSHARK();
    const std::string capture = TempPath("udp.pcap");
    sim_->AddStations({5}, true);
    Child monitor(TEVROLINK_CLI_PATH, Args({"monitor", "--count", "4"}), {"TEVROLINK_CAPTURE=" + capture});
    ASSERT_TRUE(MonitorStarted(*sim_)) << monitor.Finish().err;

    // Two frames the library drops, but captures: one damaged on the way, and one whose
    // datagram is shorter than its length byte says.
    const hostsim::Bytes filler(10, 0x11);
    hostsim::Bytes damaged = hostsim::BuildFrame(0x9C, 0, 0, 0, filler);
    damaged[tevrolink::kPayload] ^= 0x40;
    sim_->SendRaw(damaged);
    hostsim::Bytes cut = hostsim::BuildFrame(0x9C, 0, 0, 0, filler);
    cut.resize(cut.size() - 4);
    sim_->SendRaw(cut);
    const uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
    sim_->SendDataPacket(5, 0x1C, hello);  // file data, first and last
    sim_->SendSignal(0x40, 5);
    hostsim::DebugEvent event;
    event.subKind = 2;
    event.stationA = 5;
    event.stationB = 1;
    event.cmd = 0xE0;
    sim_->SendDebug(true, event);
    sim_->SendStatus(0x9C, 0);
    ASSERT_EQ(monitor.Finish().status, 0);

    const std::vector<Decoded> frames = Decode(
        capture, {"local_port:" + std::to_string(localPort_), "remote_port:" + std::to_string(sim_->Port())});
    const auto mode = Named(frames, "StartNetCenter request");
    ASSERT_FALSE(mode.empty());
    EXPECT_EQ(mode[0].at("tevrolink.direction"), kToNode);
    EXPECT_EQ(mode[0].at("tevrolink.mode"), "0") << "data transfer mode";
    EXPECT_EQ(mode[0].at("tevrolink.crc.status"), "1");
    ASSERT_FALSE(Named(frames, "StartNetCenter reply").empty());
    EXPECT_EQ(Named(frames, "StartNetCenter reply")[0].at("tevrolink.direction"), kFromNode);

    const auto data = Named(frames, "Data packet");
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].at("tevrolink.node"), "5");
    EXPECT_EQ(data[0].at("tevrolink.attr.kind"), "1");
    EXPECT_EQ(data[0].at("tevrolink.attr.first"), "1");
    EXPECT_EQ(data[0].at("tevrolink.attr.last"), "1");
    EXPECT_EQ(data[0].at("tevrolink.data"), "68656c6c6f");

    const auto debug = Named(frames, "Debug packet (kind 1)");
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0].at("tevrolink.debug.event"), "2");
    EXPECT_EQ(debug[0].at("tevrolink.debug.station_a"), "5");
    EXPECT_EQ(debug[0].at("tevrolink.debug.station_b"), "1");
    EXPECT_EQ(debug[0].at("tevrolink.debug.cmd"), "0xe0");

    const auto signal = Named(frames, "Signal packet");
    ASSERT_EQ(signal.size(), 1u);
    EXPECT_EQ(signal[0].at("tevrolink.signal.state"), "0x40");
    EXPECT_EQ(signal[0].at("tevrolink.signal.station"), "5");
    // In decimal and in the order of the quality file: 9C A0 4E 50 on the wire.
    EXPECT_EQ(signal[0].at("tevrolink.signal.peer_lqi"), "156");
    EXPECT_EQ(signal[0].at("tevrolink.signal.host_lqi"), "160");
    EXPECT_EQ(signal[0].at("tevrolink.signal.peer_rssi"), "78");
    EXPECT_EQ(signal[0].at("tevrolink.signal.host_rssi"), "80");

    const auto status = Named(frames, "Status report (kind 2, answers the status query)");
    ASSERT_EQ(status.size(), 3u) << "the damaged, the cut and the real one";
    const hostsim::Bytes payload = sim_->StatusPayload();
    EXPECT_EQ(status[0].at("tevrolink.crc.status"), "0") << "damaged on the way";
    EXPECT_NE(status[1].at("_ws.expert.message").find("Length byte 10, but the datagram carries 6"),
              std::string::npos) << status[1].at("_ws.expert.message");
    EXPECT_EQ(status[2].at("tevrolink.crc.status"), "1");
    EXPECT_EQ(status[2].at("tevrolink.status.credit"), std::to_string(payload[13] << 8 | payload[14]));
    EXPECT_EQ(status[2].at("tevrolink.status.buffer_size"), std::to_string(payload[15] << 8 | payload[16]));
}

TEST(CaptureOfASerialSession, LibraryAndHostsimCaptureTheSameFrames) {
    SKIP_WITHOUT_TSHARK();
    auto sim = hostsim::HostSim::StartPty();
    sim->UpdateSettings([](hostsim::HostSettings &s) {
        s.nodeId = 9;
        s.firmware = {0xD6, 0xF7, 0xBB, 0xFA, ' ', 'V', '2'};  // "主机 V2" in GBK
    });
    const std::string simCapture = TempPath("hostsim.pcap");
    sim->CaptureTo(simCapture);
    const std::string libraryCapture = TempPath("library.pcap");
    const Result r = Child(TEVROLINK_CLI_PATH, {"--port", sim->PtyPath(), "info"},
                           {"TEVROLINK_CAPTURE=" + libraryCapture})
                         .Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    sim->Stop();

    // A serial link is drawn between the fixed ends, which the default ports decode.
    const std::vector<Decoded> library = Decode(libraryCapture);
    const auto id = Named(library, "GetHostNodeID reply");
    ASSERT_EQ(id.size(), 1u);
    EXPECT_EQ(id[0].at("tevrolink.direction"), kFromNode);
    EXPECT_EQ(id[0].at("tevrolink.station"), "9");
    EXPECT_EQ(id[0].at("tevrolink.role"), "1");
    ASSERT_EQ(Named(library, "GetFirmwareVersion reply").size(), 1u);
    EXPECT_EQ(Named(library, "GetFirmwareVersion reply")[0].at("tevrolink.firmware"), "主机 V2");
    EXPECT_EQ(Named(library, "GetFirmwareVersion reply")[0].at("_ws.col.Info"),
              "node->PC GetFirmwareVersion reply: 主机 V2");

    const std::vector<Decoded> node = Decode(simCapture);
    ASSERT_EQ(node.size(), library.size());
    for (std::size_t i = 0; i < node.size(); ++i) {
        EXPECT_EQ(node[i].at("tevrolink.command"), library[i].at("tevrolink.command")) << i;
        EXPECT_EQ(node[i].at("tevrolink.direction"), library[i].at("tevrolink.direction")) << i;
    }
}

TEST_F(CliAgainstSim, CaptureThatCannotBeWrittenIsToldOnceAndChangesNothing) {
    const Result r = Child(TEVROLINK_CLI_PATH, Args({"info", "--json"}),
                           {"TEVROLINK_CAPTURE=/nonexistent/directory/x.pcap"})
                         .Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Document(r)["station"].Int(), 1);
    const std::string message = "cannot write the capture /nonexistent/directory/x.pcap";
    const std::size_t first = r.err.find(message);
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(message, first + 1), std::string::npos) << "told once: " << r.err;

    // What the path is instead of a file is named, by the library and by hostsim.
    const std::string fifo = TempPath("capture.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto &[path, what] : {std::pair<std::string, std::string>{fifo, "a FIFO"}, {"/dev/full", "a character device"}}) {
        const std::string reason = "cannot write the capture " + path + ": it is " + what + ", not a regular file";
        const Result library = Child(TEVROLINK_CLI_PATH, Args({"info"}), {"TEVROLINK_CAPTURE=" + path}).Finish();
        EXPECT_EQ(library.status, 0) << library.err;
        EXPECT_EQ(library.err, "tevrolink: " + reason + "; frames are not captured\n");
        const Result sim = Child(HOSTSIM_PATH, {"--udp", "127.0.0.1:0", "--capture", path}, {}).Finish();
        EXPECT_EQ(sim.status, 1);
        EXPECT_EQ(sim.err, "hostsim: " + reason + "\n");
    }
}

// Damaged, cut, lengthened and random datagrams of every code, in both directions: each is
// decoded or marked, none makes the dissector fail.
TEST(CaptureOfNoise, NoDatagramMakesTheDissectorFail) {
    SKIP_WITHOUT_TSHARK();
    const std::string capture = TempPath("noise.pcap");
    {
        tevrolink::PcapWriter writer(capture);
        ASSERT_EQ(writer.Error(), 0);
        std::mt19937 random(7);
        const timespec at{1, 0};
        for (int i = 0; i < 3000; ++i) {
            hostsim::Bytes payload(random() % 241);
            for (uint8_t &b : payload) b = static_cast<uint8_t>(random());
            hostsim::Bytes frame = hostsim::BuildFrame(static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                                       static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                                       payload);
            switch (random() % 4) {
            case 0: frame.resize(random() % (frame.size() + 1)); break;
            case 1: frame[tevrolink::kLength] = static_cast<uint8_t>(random()); break;
            case 2: frame.resize(frame.size() + random() % 20, 0x5A); break;
            default: break;
            }
            const bool fromNode = random() % 2;
            const sockaddr_in pc = tevrolink::SerialPcEnd(), node = tevrolink::SerialNodeEnd();
            ASSERT_TRUE(writer.Write(fromNode ? node : pc, fromNode ? pc : node, frame.data(), frame.size(), at));
        }
    }
    EXPECT_EQ(Decode(capture).size(), 3000u);
}

TEST(CaptureOfADeviceSearch, AnswersDecodeAsDeviceEntries) {
    SKIP_WITHOUT_TSHARK();
    if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
        GTEST_SKIP() << why << "; the device search is not captured";
    const DeviceEntry entry = hostsim::MakeDeviceEntry({.address = "192.168.1.94",
                                                        .mask = "255.255.255.0",
                                                        .gateway = "192.168.1.1",
                                                        .primaryDns = "8.8.8.8",
                                                        .centre = "192.168.1.100",
                                                        .centrePort = 10086,
                                                        .mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E},
                                                        .description = "\xB2\xD6\xBF\xE2 1"});  // GBK
    const testsupport::DeviceSegment segment("pc0", 1);
    if (!segment.Failure().empty()) GTEST_SKIP() << segment.Failure();
    const auto devices = segment.MakeInside<hostsim::DeviceEmulator>(
        std::vector<hostsim::NetworkDevice>{{entry, {}}}, "0.0.0.0", DEVICE_PORT, segment.Subnet());
    const std::string capture = TempPath("search.pcap");
    const Result r = Child(TEVROLINK_CLI_PATH, {"discover"}, {"TEVROLINK_CAPTURE=" + capture}).Finish();
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<Decoded> frames = Decode(capture);
    ASSERT_EQ(Named(frames, "Device search request").size(), 1u);
    const auto answers = Named(frames, "Device search answer");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].at("tevrolink.direction"), kFromNode);
    EXPECT_EQ(answers[0].at("tevrolink.crc.status"), "1");
    EXPECT_EQ(answers[0].at("tevrolink.device.ip"), "192.168.1.94");
    EXPECT_EQ(answers[0].at("tevrolink.device.mac"), "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(answers[0].at("tevrolink.device.description"), "仓库 1");
}

}  // namespace
}  // namespace clitest
