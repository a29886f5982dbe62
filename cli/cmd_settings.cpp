// info: everything the host node reports about itself; set: change one setting.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/host_settings.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/values.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

const char kRetransmissionMismatch[] = "数据重传设置与设备不符，请确认设置!";

const char kInfoHelp[] =
    "usage: tevrolink info [LINK OPTIONS] [--json]\n"
    "\n"
    "Reads the host node's settings: station number and role (master or slave), peer\n"
    "station (0 = broadcast), both working frequency points, transmit power, its\n"
    "retransmission setting, firmware version and the list of active stations.\n"
    "Warns on standard error when the host node's retransmission setting differs from\n"
    "the PC side (--handshake).\n";

const char kSetHelp[] =
    "usage: tevrolink set [LINK OPTIONS] SETTING VALUE [--json]\n"
    "\n"
    "Changes one setting of the host node and prints the value now in force.\n"
    "\n"
    "Settings:\n"
    "  station N            own station number, 1-254\n"
    "  peer N|broadcast     station to send to, 1-254, or broadcast (master nodes only)\n"
    "  freq1 N              first working frequency point, 0-16\n"
    "  freq2 N              second working frequency point, 0-16\n"
    "  power P              transmit power in dBm, with its sign or unit: +10, +7, +5,\n"
    "                       \"0 dBm\", -5, -10, -15, -20; or a level: \"level 0\" (+10 dBm)\n"
    "                       to \"level 7\" (-20 dBm). A bare number such as 3 is refused.\n"
    "  retransmission on|off  the host node's retransmission of data packets\n"
    "  clock [now]          set the host node's clock to this machine's local time\n"
    "  baud N               serial rate the host node uses after its next restart:\n"
    "                       9600, 14400, 19200, 38400, 57600 or 115200\n"
    "\n"
    "Values are checked before anything is sent; a bad one ends with status 2.\n";

int RunInfo(const Arguments &args) {
    if (!args.positional.empty()) throw UsageError("info takes no arguments");
    const LinkOptions options = ParseLinkOptions(args);
    LinkSession link(options);

    const HostSettings settings = ReadHostSettings();
    uint8_t list[255] = {};
    uint8_t count = 0;
    Require(GetActiveNodeList(list, sizeof list, &count), "the request for its active stations");
    const std::vector<uint8_t> active(list, list + count);

    if (settings.retransmission != options.handShake)
        std::fprintf(stderr, "tevrolink: %s (host node %s, --handshake %s)\n", kRetransmissionMismatch,
                     settings.retransmission ? "on" : "off", options.handShake ? "on" : "off");
    if (args.Json()) {
        PrintJson({{"station", settings.station},
                   {"role", settings.master ? "master" : "slave"},
                   {"peer", settings.peer},
                   {"broadcast", settings.peer == 0},
                   {"freq1", settings.freq1},
                   {"freq2", settings.freq2},
                   {"power", SettingJson("power", settings.power)},
                   {"retransmission", settings.retransmission},
                   {"firmware", settings.firmware},
                   {"active", active}});
        return kExitOk;
    }
    PrintFields({
        {"station", std::to_string(settings.station) + (settings.master ? " (master)" : " (slave)")},
        {"peer", DescribeSetting("peer", settings.peer)},
        {"frequency point 1", std::to_string(settings.freq1)},
        {"frequency point 2", std::to_string(settings.freq2)},
        {"power", DescribeSetting("power", settings.power)},
        {"retransmission", DescribeSetting("retransmission", settings.retransmission)},
        {"firmware", settings.firmware},
        {"active stations", active.empty() ? std::string("none") : FormatStationList(active)},
    });
    return kExitOk;
}

// What `set` was asked to do, checked before the link is opened; the clock has no value.
SettingChange CheckSetArguments(const Arguments &args) {
    if (args.positional.empty()) throw UsageError("set wants a setting and a value; see tevrolink set --help");
    const std::string &setting = args.positional[0];
    const bool valueGiven = args.positional.size() >= 2;
    if (args.positional.size() > 2) throw UsageError("set takes one setting and one value");
    if (setting == "clock") {
        if (valueGiven && args.positional[1] != "now")
            throw UsageError("clock takes no value, or \"now\": the host node gets this machine's local time");
        return SettingChange{setting, 0};
    }
    if (!valueGiven && KnownSetting(setting)) throw UsageError(setting + " needs a value");
    return CheckSetting(setting, valueGiven ? args.positional[1] : std::string());
}

// Fails when the host node reports another value than the one asked for: it refused.
void CheckInForce(const std::string &what, uint32_t asked, uint32_t inForce) {
    if (asked != inForce)
        throw Failure("the host node refused " + what + " " + std::to_string(asked) + " and keeps " +
                      std::to_string(inForce));
}

void Report(const Arguments &args, const SettingChange &r, const std::string &text, const Json &value) {
    if (args.Json()) {
        PrintJson({{"setting", r.setting}, {"value", value}});
    } else {
        std::printf("%s\n", text.c_str());
    }
}

int RunSet(const Arguments &args) {
    const SettingChange r = CheckSetArguments(args);
    const LinkOptions options = ParseLinkOptions(args);
    LinkSession link(options);

    if (r.setting == "clock") {
        const std::time_t now = std::time(nullptr);
        Require(SetHostRTCTimer(), "the clock setting");
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
        Report(args, r, std::string("clock set to ") + stamp, stamp);
        return kExitOk;
    }
    const uint32_t out = ApplySetting(r);
    const Json number = out;
    if (r.setting == "station") {
        CheckInForce("station number", r.value, out);
        Report(args, r, "station number: " + std::to_string(out), number);
    } else if (r.setting == "peer") {
        CheckInForce("peer station", r.value, out);
        Report(args, r, "peer: " + DescribeSetting("peer", out), number);
    } else if (r.setting == "freq1" || r.setting == "freq2") {
        CheckInForce("frequency point", r.value, out);
        Report(args, r, std::string("frequency point ") + (r.setting == "freq1" ? "1" : "2") + ": " +
                            std::to_string(out), number);
    } else if (r.setting == "power") {
        CheckInForce("power level", r.value, out);
        Report(args, r, "power: " + DescribeSetting("power", out),
               SettingJson("power", out));
    } else if (r.setting == "retransmission") {
        Report(args, r, "retransmission: " + DescribeSetting("retransmission", out),
               out != 0);
    } else {
        Report(args, r,
               "baud rate: " + std::to_string(out) + " bit/s from the host node's next restart", number);
    }
    return kExitOk;
}

}  // namespace

std::vector<Command> SettingCommands() {
    return {
        {"info", "show the host node's settings, firmware and active stations", kInfoHelp, true, {},
         RunInfo},
        {"set", "change one setting of the host node", kSetHelp, true, {}, RunSet},
    };
}

}  // namespace cli
