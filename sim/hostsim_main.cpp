// hostsim: the stand-in host node as a program, on UDP or on a pseudo-terminal.
#include <iconv.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "sim/host_sim.h"
#include "sim/udp_endpoint.h"

namespace {

const char kUsage[] =
    "usage: hostsim (--udp ADDRESS:PORT | --pty [--link PATH] [--baud N] [--pace]) [options]\n"
    "\n"
    "Stands in for the host node of the radio network.\n"
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
    "  --demo N            N live stations (2 to N+1) that report every 2 s\n"
    "  --drain N           radio speed in bytes per second (default 16000; 0 holds data)\n"
    "  --buffer N          transmit buffer size in bytes (default 2048)\n"
    "  --verbose           print every frame that passes\n"
    "  --help              show this text\n";

struct Options {
    bool udp = false, pty = false, slave = false, handShake = false, verbose = false;
    std::string udpAddress;
    uint16_t udpPort = 0;
    hostsim::PtyOptions ptyOptions;
    int node = 1, demo = 0, drain = -1, buffer = -1;
    std::string firmware;
};

[[noreturn]] void Usage(const std::string &error) {
    std::cerr << "hostsim: " << error << "\n\n" << kUsage;
    std::exit(2);
}

long Number(const char *text, long low, long high, const char *what) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) Usage(std::string("bad ") + what + ": " + text);
    return v;
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
            std::cout << kUsage;
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
        } else if (arg == "--drain") {
            o.drain = static_cast<int>(Number(value(), 0, 10000000, "drain rate"));
        } else if (arg == "--buffer") {
            o.buffer = static_cast<int>(Number(value(), 1, 65535, "buffer size"));
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else {
            Usage("unknown option " + arg);
        }
    }
    if (o.udp == o.pty) Usage("give exactly one of --udp and --pty");
    if (o.udp && (!o.ptyOptions.linkPath.empty() || o.ptyOptions.baud || o.ptyOptions.pace))
        Usage("--link, --baud and --pace belong to --pty");
    if (o.ptyOptions.pace && !o.ptyOptions.baud) Usage("--pace needs --baud");
    return o;
}

// Device texts travel in GBK; the command line is UTF-8.
hostsim::Bytes ToGbk(const std::string &utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return hostsim::Bytes(utf8.begin(), utf8.end());
    std::string in = utf8;
    hostsim::Bytes out(in.size() * 2 + 4);
    char *src = in.data();
    char *dst = reinterpret_cast<char *>(out.data());
    size_t srcLeft = in.size(), dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) Usage("--firmware text cannot be written in GBK");
    out.resize(out.size() - dstLeft);
    return out;
}

void PrintFrames(const std::vector<hostsim::RecordedFrame> &frames, std::size_t from,
                 const char *direction) {
    for (std::size_t i = from; i < frames.size(); ++i) {
        std::printf("%s", direction);
        for (uint8_t b : frames[i].bytes) std::printf(" %02X", b);
        std::printf("\n");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = Parse(argc, argv);

    // Block the stop signals before the node's thread starts, so only sigtimedwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<hostsim::HostSim> sim;
    try {
        sim = o.udp ? hostsim::HostSim::StartUdp(o.udpAddress, o.udpPort)
                    : hostsim::HostSim::StartPty(o.ptyOptions);
    } catch (const std::exception &e) {
        std::cerr << "hostsim: " << e.what() << "\n";
        return 1;
    }
    sim->UpdateSettings([&](hostsim::HostSettings &s) {
        s.nodeId = static_cast<uint8_t>(o.node);
        s.master = !o.slave;
        s.handShake = o.handShake;
        if (!o.firmware.empty()) s.firmware = ToGbk(o.firmware);
    });
    if (o.drain >= 0) sim->SetDrainRate(static_cast<uint32_t>(o.drain));
    if (o.buffer > 0) sim->SetBufferSize(static_cast<uint16_t>(o.buffer));
    for (int n = 0; n < o.demo; ++n) sim->AddStations({static_cast<uint8_t>(2 + n)});
    if (o.demo > 0) sim->SetDemo(hostsim::Millis(2000));

    std::printf("%s %s\n", o.udp ? "udp" : "pty", sim->Describe().c_str());
    if (!o.ptyOptions.linkPath.empty()) std::printf("link %s\n", o.ptyOptions.linkPath.c_str());
    std::fflush(stdout);

    std::size_t shownIn = 0, shownOut = 0;
    const timespec tick{0, 100'000'000};
    for (;;) {
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig > 0) break;
        if (o.verbose) {
            // Printing from the record keeps the node's thread free of terminal output.
            const auto in = sim->Received();
            const auto out = sim->Sent();
            PrintFrames(in, shownIn, "PC->");
            PrintFrames(out, shownOut, "->PC");
            shownIn = in.size();
            shownOut = out.size();
        }
    }
    sim->Stop();
    return 0;
}
