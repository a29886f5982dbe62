// monitor: data transfer mode, one line per packet the host node sends, until stopped.
#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/packet_text.h"
#include "cli/values.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

const char kMonitorHelp[] =
    "usage: tevrolink monitor [LINK OPTIONS] [--count N] [--seconds S] [--json]\n"
    "\n"
    "Puts the host node into data transfer mode with its monitor output on and prints\n"
    "one line per packet it sends: data from stations, status reports, debug packets\n"
    "and signal packets, decoded into fields. Stops cleanly on Ctrl-C (SIGINT) or\n"
    "SIGTERM, and turns the monitor output off again. With --json the packets are\n"
    "printed as one document when monitoring stops.\n"
    "\n"
    "Options:\n"
    "  --count N            stop after N packets\n"
    "  --seconds S          stop after S seconds\n";

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) { stopRequested = 1; }

// Catches SIGINT and SIGTERM for as long as it lives.
class StopSignals {
public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopSignals() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

std::string Stamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S", std::localtime(&t));
    char full[40];
    std::snprintf(full, sizeof full, "%s.%03lld", text, static_cast<long long>(ms));
    return full;
}

int RunMonitor(const Arguments &args) {
    if (!args.positional.empty()) throw UsageError("monitor takes no arguments");
    const auto countText = args.Value("--count");
    const auto secondsText = args.Value("--seconds");
    const uint32_t count = countText ? ParseNumber(*countText, 1, 0xFFFFFFFFu, "the packet count (--count)") : 0;
    const uint32_t seconds = secondsText ? ParseNumber(*secondsText, 1, 31536000, "the time (--seconds)") : 0;
    const LinkOptions options = ParseLinkOptions(args);

    StopSignals signals;  // before the link opens, so an early Ctrl-C is not lost either
    LinkSession link(options);
    Require(StartNetCenter(1), "the request for data transfer mode");
    Require(StartMonitorService(1), "the request to start its monitor output");
    link.WaitUntilReady();

    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    std::vector<std::pair<std::string, DecodedPacket>> packets;  // kept for --json only
    uint32_t seen = 0;
    bool lineLost = false;
    while (!stopRequested && (!count || seen < count) && (!seconds || std::chrono::steady_clock::now() < end)) {
        if (!IsShellReadable(nullptr, nullptr)) {
            if (!IsShellActive()) {  // a serial line that hung up has closed the shell
                lineLost = true;
                break;
            }
            // The library has no descriptor to wait on; a short pause keeps the loop cheap.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        ++seen;
        DecodedPacket packet = DecodeReceivedPacket();
        if (args.Json()) {
            packets.emplace_back(Stamp(), std::move(packet));
        } else {
            std::printf("%s %s\n", Stamp().c_str(), packet.Line().c_str());
            std::fflush(stdout);
        }
    }
    if (!lineLost) StartMonitorService(0);  // best effort: the node may be gone, and the run ends anyway

    if (args.Json()) {
        Json list = Json::array();
        for (const auto &[stamp, packet] : packets) list.push_back({{"time", stamp}, {"packet", packet.ToJson()}});
        const char *stoppedBy = stopRequested ? "signal" : count && seen >= count ? "count" : "time";
        if (lineLost) stoppedBy = "line lost";
        PrintJson({{"packets", list}, {"count", seen}, {"stopped_by", stoppedBy}});
    }
    if (lineLost)
        throw Failure("the line to the host node went away (" + options.Describe() + "): is the adapter plugged in?");
    return kExitOk;
}

}  // namespace

std::vector<Command> MonitorCommands() {
    return {
        {"monitor", "print the packets the host node sends in data transfer mode", kMonitorHelp, true,
         {{"--count", true}, {"--seconds", true}}, RunMonitor},
    };
}

}  // namespace cli
