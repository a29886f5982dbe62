// hostsim: the stand-in host node as a program, on UDP or on a pseudo-terminal, and the
// network-attached devices that a device search finds.
#include <arpa/inet.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "setup/text_encoding.h"
#include "sim/device_emulator.h"
#include "sim/device_option.h"
#include "sim/host_sim.h"
#include "sim/udp_endpoint.h"

namespace {

const char kUsageHead[] =
    "usage: hostsim [--udp ADDRESS:PORT | --pty [--link PATH] [--baud N] [--pace]]\n"
    "               [--device DEVICE]... [options]\n"
    "\n"
    "Stands in for the host node of the radio network (on UDP or a pseudo-terminal), and for\n"
    "network-attached host nodes found by a device search (--device).\n"
    "\n"
    "  --udp ADDRESS:PORT  listen on UDP (port 0 picks a free port); answers the sender\n"
    "  --pty               make a pseudo-terminal and print its slave path\n"
    "  --link PATH         also make a symbolic link PATH to the slave\n"
    "  --baud N            answer only while the slave's line speed is N bit/s\n"
    "  --pace              send no faster than --baud allows, as a real line\n"
    "  --node N            own station number (default 1)\n"
    "  --slave             act as a slave node (default: master)\n"
    "  --firmware TEXT     firmware version text (UTF-8, sent as GBK)\n"
    "  --handshake         retransmit unacknowledged data packets (default off)\n"
    "  --demo N            N live stations (2 to N+1) that report in turn, one every\n"
    "                      2 s (each every 2N s); 2 and 3 are active, 4 is active but\n"
    "                      suspended\n"
    "  --demo-files SEC    in data transfer mode, one of them sends a small file every\n"
    "                      SEC seconds (needs --demo)\n"
    "  --drain N           radio speed in bytes per second (default 16000; 0 holds data)\n"
    "  --buffer N          transmit buffer size in bytes (default 2048)\n";

const char kUsageTail[] =
    "\n"
    "Faults on the link (seeded: the same seed loses the same frames):\n"
    "  --seed N            seed of the fault pattern (default 1)\n"
    "  --drop RATE         lose this fraction of frames (0.05 or 5%)\n"
    "  --corrupt RATE      damage one byte in this fraction of frames\n"
    "  --duplicate RATE    send this fraction of frames twice\n"
    "  --delay MS          hold every frame back MS milliseconds\n"
    "  --reorder           hold each frame back 0 to --delay ms instead, so that UDP\n"
    "                      datagrams overtake each other\n"
    "  --faults WHERE      to-node, to-pc or both (default both)\n"
    "  --silence MS        how long SIGUSR2 keeps the node silent (default 2000)\n"
    "  SIGUSR1 restarts the node (it loses its sequence numbers and link sync, its\n"
    "  transmit buffer, and asks for a sync); SIGUSR2 silences it for --silence ms.\n"
    "\n"
    "  --capture FILE      write every frame that crosses the link to FILE as a pcap\n"
    "                      capture (tools/wireshark/tevrolink.lua decodes it)\n"
    "  --verbose           print every frame that passes\n"
    "  --help              show this text\n";

void PrintUsage(std::ostream &out) { out << kUsageHead << hostsim::kDeviceOptionHelp << kUsageTail; }

struct Options {
    bool udp = false, pty = false, slave = false, handShake = false, verbose = false;
    std::string udpAddress;
    uint16_t udpPort = 0;
    hostsim::PtyOptions ptyOptions;
    int node = 1, demo = 0, drain = -1, buffer = -1;
    long demoFilesSeconds = 0;
    std::string firmware;
    std::string capture;
    std::vector<hostsim::NetworkDevice> devices;
    std::string deviceAddress = "0.0.0.0";
    hostsim::FaultPlan faults;
    long silenceMs = 2000;
};

[[noreturn]] void Usage(const std::string &error) {
    std::cerr << "hostsim: " << error << "\n\n";
    PrintUsage(std::cerr);
    std::exit(2);
}

long Number(const char *text, long low, long high, const char *what) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) Usage(std::string("bad ") + what + ": " + text);
    return v;
}

// A fraction from 0 to 1, or a percentage with its sign ("5%").
double Rate(const char *text, const char *what) {
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (end != text && *end == '%' && end[1] == '\0') {
        v /= 100;
        ++end;
    }
    if (end == text || *end || !(v >= 0 && v <= 1)) Usage(std::string("bad ") + what + ": " + text);
    return v;
}

hostsim::FaultDirection Direction(const std::string &text) {
    if (text == "to-node") return hostsim::FaultDirection::kToNode;
    if (text == "to-pc") return hostsim::FaultDirection::kToPc;
    if (text == "both") return hostsim::FaultDirection::kBoth;
    Usage("--faults wants to-node, to-pc or both: " + text);
}

Options Parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            PrintUsage(std::cout);
            std::exit(0);
        } else if (arg == "--udp") {
            o.udp = true;
            if (!hostsim::ParseUdpAddress(value(), o.udpAddress, o.udpPort))
                Usage("--udp wants ADDRESS:PORT");
        } else if (arg == "--pty") {
            o.pty = true;
        } else if (arg == "--link") {
            o.ptyOptions.linkPath = value();
        } else if (arg == "--baud") {
            o.ptyOptions.baud = static_cast<uint32_t>(Number(value(), 1, 4000000, "baud rate"));
        } else if (arg == "--pace") {
            o.ptyOptions.pace = true;
        } else if (arg == "--node") {
            o.node = static_cast<int>(Number(value(), 1, 254, "station number"));
        } else if (arg == "--slave") {
            o.slave = true;
        } else if (arg == "--firmware") {
            o.firmware = value();
        } else if (arg == "--handshake") {
            o.handShake = true;
        } else if (arg == "--demo") {
            o.demo = static_cast<int>(Number(value(), 0, 253, "station count"));
        } else if (arg == "--demo-files") {
            o.demoFilesSeconds = Number(value(), 1, 86400, "file period");
        } else if (arg == "--drain") {
            o.drain = static_cast<int>(Number(value(), 0, 10000000, "drain rate"));
        } else if (arg == "--buffer") {
            o.buffer = static_cast<int>(Number(value(), 1, 65535, "buffer size"));
        } else if (arg == "--device") {
            try {
                o.devices.push_back(hostsim::ParseDeviceOption(
                    value(), static_cast<unsigned>(o.devices.size() + 1)));
            } catch (const std::invalid_argument &e) {
                Usage(std::string("--device: ") + e.what());
            }
        } else if (arg == "--device-address") {
            o.deviceAddress = value();
        } else if (arg == "--seed") {
            o.faults.seed = static_cast<uint32_t>(Number(value(), 0, 4294967295L, "seed"));
        } else if (arg == "--drop") {
            o.faults.dropRate = Rate(value(), "drop rate");
        } else if (arg == "--corrupt") {
            o.faults.corruptRate = Rate(value(), "corruption rate");
        } else if (arg == "--duplicate") {
            o.faults.duplicateRate = Rate(value(), "duplication rate");
        } else if (arg == "--delay") {
            o.faults.delay = hostsim::Millis(Number(value(), 0, 60000, "delay"));
        } else if (arg == "--reorder") {
            o.faults.reorder = true;
        } else if (arg == "--faults") {
            o.faults.direction = Direction(value());
        } else if (arg == "--silence") {
            o.silenceMs = Number(value(), 1, 3600000, "silence");
        } else if (arg == "--capture") {
            o.capture = value();
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else {
            Usage("unknown option " + arg);
        }
    }
    if (o.udp && o.pty) Usage("give only one of --udp and --pty");
    if (!o.udp && !o.pty && o.devices.empty()) Usage("give --udp, --pty or --device");
    if (o.udp && (!o.ptyOptions.linkPath.empty() || o.ptyOptions.baud || o.ptyOptions.pace))
        Usage("--link, --baud and --pace belong to --pty");
    if (o.ptyOptions.pace && !o.ptyOptions.baud) Usage("--pace needs --baud");
    if (!o.capture.empty() && !o.udp && !o.pty) Usage("--capture needs --udp or --pty");
    if (o.demoFilesSeconds > 0 && o.demo == 0) Usage("--demo-files needs --demo");
    if (o.faults.reorder && o.faults.delay.count() == 0) Usage("--reorder needs --delay");
    return o;
}

const char *FateMark(hostsim::Fate fate) {
    switch (fate) {
    case hostsim::Fate::kPassed: return "";
    case hostsim::Fate::kDropped: return " [dropped]";
    case hostsim::Fate::kCorrupted: return " [corrupted]";
    case hostsim::Fate::kBadCrc: return " [bad CRC]";
    case hostsim::Fate::kIgnored: return " [ignored]";
    case hostsim::Fate::kDuplicated: return " [duplicate]";
    }
    return "";
}

void PrintFrames(const std::vector<hostsim::RecordedFrame> &frames, std::size_t from,
                 const char *direction) {
    for (std::size_t i = from; i < frames.size(); ++i) {
        std::printf("%s%s", direction, FateMark(frames[i].fate));
        if (frames[i].heldFor.count() > 0)
            std::printf(" [%lld ms late]", static_cast<long long>(frames[i].heldFor.count()));
        for (uint8_t b : frames[i].bytes) std::printf(" %02X", b);
        std::printf("\n");
    }
}

void PrintDatagrams(const std::vector<hostsim::DeviceDatagram> &datagrams, std::size_t from) {
    for (std::size_t i = from; i < datagrams.size(); ++i) {
        char sender[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &datagrams[i].from.sin_addr, sender, sizeof sender);
        std::printf("%s:%u->devices", sender, ntohs(datagrams[i].from.sin_port));
        for (uint8_t b : datagrams[i].bytes) std::printf(" %02X", b);
        std::printf("\n");
    }
}

std::unique_ptr<hostsim::HostSim> StartNode(const Options &o) {
    std::unique_ptr<hostsim::HostSim> sim = o.udp ? hostsim::HostSim::StartUdp(o.udpAddress, o.udpPort)
                                                  : hostsim::HostSim::StartPty(o.ptyOptions);
    sim->UpdateSettings([&](hostsim::HostSettings &s) {
        s.nodeId = static_cast<uint8_t>(o.node);
        s.master = !o.slave;
        s.handShake = o.handShake;
        if (!o.firmware.empty()) {
            const std::string gbk = tevrolink::Utf8ToGbk(o.firmware);
            s.firmware.assign(gbk.begin(), gbk.end());
        }
    });
    if (o.drain >= 0) sim->SetDrainRate(static_cast<uint32_t>(o.drain));
    if (o.buffer > 0) sim->SetBufferSize(static_cast<uint16_t>(o.buffer));
    sim->AddDemoNetwork(static_cast<unsigned>(o.demo));
    if (o.demo > 0) sim->SetDemo(hostsim::Millis(2000));
    if (o.demoFilesSeconds > 0) sim->SetDemoFiles(hostsim::Millis(o.demoFilesSeconds * 1000));
    sim->SetFaults(o.faults);
    if (!o.capture.empty()) sim->CaptureTo(o.capture);
    std::printf("%s %s\n", o.udp ? "udp" : "pty", sim->Describe().c_str());
    if (!o.ptyOptions.linkPath.empty()) std::printf("link %s\n", o.ptyOptions.linkPath.c_str());
    return sim;
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = Parse(argc, argv);

    // Block the signals before the threads start, so only sigtimedwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&signals, sig);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<hostsim::HostSim> sim;
    std::unique_ptr<hostsim::DeviceEmulator> devices;
    try {
        if (o.udp || o.pty) sim = StartNode(o);
        if (!o.devices.empty()) {
            devices = std::make_unique<hostsim::DeviceEmulator>(o.devices, o.deviceAddress);
            std::printf("devices %s:%u (%zu)\n", o.deviceAddress.c_str(), devices->Port(),
                        o.devices.size());
        }
    } catch (const std::exception &e) {
        std::cerr << "hostsim: " << e.what() << "\n";
        return 1;
    }
    std::fflush(stdout);

    std::size_t shownIn = 0, shownOut = 0, shownDevices = 0;
    const timespec tick{0, 100'000'000};
    for (;;) {
        const int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig == SIGUSR1 && sim) {
            sim->Restart();
        } else if (sig == SIGUSR2 && sim) {
            sim->SilenceFor(hostsim::Millis(o.silenceMs));
        } else if (sig > 0 && sig != SIGUSR1 && sig != SIGUSR2) {
            break;
        }
        if (!o.verbose) continue;
        // Printing from the records keeps the working threads free of terminal output.
        if (sim) {
            const auto in = sim->Received();
            const auto out = sim->Sent();
            PrintFrames(in, shownIn, "PC->");
            PrintFrames(out, shownOut, "->PC");
            shownIn = in.size();
            shownOut = out.size();
        }
        if (devices) {
            const auto heard = devices->Received();
            PrintDatagrams(heard, shownDevices);
            shownDevices = heard.size();
        }
        std::fflush(stdout);
    }
    if (sim) sim->Stop();
    return 0;
}
