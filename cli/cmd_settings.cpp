// info: everything the host node reports about itself; set: change one setting.
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/values.h"
#include "setup/text_encoding.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

const char kSlavePeerMessage[] = "从节点仅能向主节点发送数据,无需指定";
const char kSlaveBroadcastMessage[] = "从节点不支持广播功能";
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
    "  power P              transmit power: a level 0-7 (0 = +10 dBm ... 7 = -20 dBm) or\n"
    "                       the power with its sign: +10, +7, +5, 0, -5, -10, -15, -20 [dBm]\n"
    "  retransmission on|off  the host node's retransmission of data packets\n"
    "  clock [now]          set the host node's clock to this machine's local time\n"
    "  baud N               serial rate the host node uses after its next restart:\n"
    "                       9600, 14400, 19200, 38400, 57600 or 115200\n"
    "\n"
    "Values are checked before anything is sent; a bad one ends with status 2.\n";

std::string PowerDescription(uint8_t level) {
    return std::string(kPowerTexts[level & 7]) + " (level " + std::to_string(level & 7) + ")";
}

void PowerJson(JsonWriter &json, uint8_t level) {
    level &= 7;
    json.Key("power").BeginObject().Field("level", level).Field("dbm", kPowerDbm[level])
        .Field("text", kPowerTexts[level]).EndObject();
}

int RunInfo(const Arguments &args) {
    if (!args.positional.empty()) throw UsageError("info takes no arguments");
    const LinkOptions options = ParseLinkOptions(args);
    LinkSession link(options);

    uint8_t id = 0, role = 0, peer = 0, x1 = 0, x2 = 0, power = 0, retransmission = 0;
    Require(GetHostNodeID(&id, &role), "the request for its station number");
    Require(GetPeerNodeID(&peer), "the request for its peer station");
    Require(GetFrequencyPointX1(&x1), "the request for its first frequency point");
    Require(GetFrequencyPointX2(&x2), "the request for its second frequency point");
    Require(GetWirelessPower(&power), "the request for its transmit power");
    Require(GetShellHandShake(&retransmission), "the request for its retransmission setting");
    uint8_t version[TEVROLINK_FRAME_PAYLOAD + 1] = {};
    Require(GetFirmwareVersion(version, TEVROLINK_FRAME_PAYLOAD), "the request for its firmware version");
    const std::string firmware = tevrolink::GbkToUtf8(reinterpret_cast<const char *>(version));
    uint8_t list[255] = {};
    uint8_t count = 0;
    Require(GetActiveNodeList(list, sizeof list, &count), "the request for its active stations");
    const std::vector<uint8_t> active(list, list + count);

    const bool master = role != 0;
    if ((retransmission != 0) != options.handShake)
        std::fprintf(stderr, "tevrolink: %s (host node %s, --handshake %s)\n", kRetransmissionMismatch,
                     retransmission ? "on" : "off", options.handShake ? "on" : "off");
    if (args.Json()) {
        JsonWriter json;
        json.BeginObject()
            .Field("station", id)
            .Field("role", master ? "master" : "slave")
            .Field("peer", peer)
            .Field("broadcast", peer == 0)
            .Field("freq1", x1)
            .Field("freq2", x2);
        PowerJson(json, power);
        json.Field("retransmission", retransmission != 0).Field("firmware", firmware);
        json.Key("active").BeginArray();
        for (uint8_t s : active) json.Number(s);
        json.EndArray().EndObject().Print();
        return kExitOk;
    }
    PrintFields({
        {"station", std::to_string(id) + (master ? " (master)" : " (slave)")},
        {"peer", peer == 0 ? std::string("broadcast") : std::to_string(peer)},
        {"frequency point 1", std::to_string(x1)},
        {"frequency point 2", std::to_string(x2)},
        {"power", PowerDescription(power)},
        {"retransmission", retransmission ? "on" : "off"},
        {"firmware", firmware},
        {"active stations", active.empty() ? std::string("none") : FormatStationList(active)},
    });
    return kExitOk;
}

// What `set` was asked to do, checked before the link is opened.
struct SetRequest {
    std::string setting;
    uint32_t value = 0;
    bool broadcast = false;  // peer
};

SetRequest CheckSetArguments(const Arguments &args) {
    if (args.positional.empty()) throw UsageError("set wants a setting and a value; see tevrolink set --help");
    SetRequest r;
    r.setting = args.positional[0];
    const bool valueGiven = args.positional.size() >= 2;
    if (args.positional.size() > 2) throw UsageError("set takes one setting and one value");
    if (r.setting == "clock") {
        if (valueGiven && args.positional[1] != "now")
            throw UsageError("clock takes no value, or \"now\": the host node gets this machine's local time");
        return r;
    }
    static const char *const kKnown[] = {"station", "peer", "freq1", "freq2", "power", "retransmission", "baud"};
    bool known = false;
    for (const char *k : kKnown) known = known || r.setting == k;
    if (!known)
        throw UsageError("there is no setting \"" + r.setting +
                         "\"; settings are station, peer, freq1, freq2, power, retransmission, clock and baud");
    if (!valueGiven) throw UsageError(r.setting + " needs a value");
    const std::string &v = args.positional[1];
    if (r.setting == "station") {
        r.value = ParseStation(v);
    } else if (r.setting == "peer") {
        r.broadcast = v == "broadcast";
        if (!r.broadcast) r.value = ParseStation(v);
    } else if (r.setting == "freq1" || r.setting == "freq2") {
        r.value = ParsePoint(v);
    } else if (r.setting == "power") {
        r.value = ParsePower(v);
    } else if (r.setting == "retransmission") {
        r.value = ParseOnOff(v, "retransmission") ? 1 : 0;
    } else {
        r.value = ParseDeviceBaud(v);
    }
    return r;
}

// Fails when the host node reports another value than the one asked for: it refused.
void CheckInForce(const std::string &what, uint32_t asked, uint32_t inForce) {
    if (asked != inForce)
        throw Failure("the host node refused " + what + " " + std::to_string(asked) + " and keeps " +
                      std::to_string(inForce));
}

void Report(const Arguments &args, const SetRequest &r, const std::string &text,
            const std::function<void(JsonWriter &)> &value) {
    if (args.Json()) {
        JsonWriter json;
        json.BeginObject().Field("setting", r.setting).Key("value");
        value(json);
        json.EndObject().Print();
    } else {
        std::printf("%s\n", text.c_str());
    }
}

int RunSet(const Arguments &args) {
    const SetRequest r = CheckSetArguments(args);
    const LinkOptions options = ParseLinkOptions(args);
    LinkSession link(options);
    uint8_t out = 0;
    const auto number = [](uint32_t n) { return [n](JsonWriter &j) { j.Number(n); }; };

    if (r.setting == "station") {
        Require(SetHostNodeID(static_cast<int>(r.value), &out), "the new station number");
        CheckInForce("station number", r.value, out);
        Report(args, r, "station number: " + std::to_string(out), number(out));
    } else if (r.setting == "peer") {
        uint8_t id = 0, role = 0;
        Require(GetHostNodeID(&id, &role), "the request for its role");
        if (role == 0) throw Failure(r.broadcast ? kSlaveBroadcastMessage : kSlavePeerMessage);
        Require(SetPeerNodeID(static_cast<int>(r.value), &out), "the new peer station");
        CheckInForce("peer station", r.value, out);
        Report(args, r, out == 0 ? "peer: broadcast" : "peer: " + std::to_string(out), number(out));
    } else if (r.setting == "freq1" || r.setting == "freq2") {
        const bool first = r.setting == "freq1";
        const int ok = first ? SetFrequencyPointX1(static_cast<int>(r.value), &out)
                             : SetFrequencyPointX2(static_cast<int>(r.value), &out);
        Require(ok, "the new frequency point");
        CheckInForce("frequency point", r.value, out);
        Report(args, r, std::string("frequency point ") + (first ? "1" : "2") + ": " + std::to_string(out),
               number(out));
    } else if (r.setting == "power") {
        Require(SetWirelessPower(static_cast<int>(r.value), &out), "the new transmit power");
        CheckInForce("power level", r.value, out);
        Report(args, r, "power: " + PowerDescription(out), [&](JsonWriter &j) {
            j.BeginObject().Field("level", out).Field("dbm", kPowerDbm[out & 7])
                .Field("text", kPowerTexts[out & 7]).EndObject();
        });
    } else if (r.setting == "retransmission") {
        Require(SetShellHandShake(static_cast<int>(r.value)), "the retransmission setting");
        Report(args, r, std::string("retransmission: ") + (r.value ? "on" : "off"),
               [&](JsonWriter &j) { j.Bool(r.value != 0); });
    } else if (r.setting == "clock") {
        const std::time_t now = std::time(nullptr);
        Require(SetHostRTCTimer(), "the clock setting");
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
        Report(args, r, std::string("clock set to ") + stamp, [&](JsonWriter &j) { j.String(stamp); });
    } else {
        Require(SetDeviceBaudRate(r.value), "the new baud rate");
        Report(args, r,
               "baud rate: " + std::to_string(r.value) + " bit/s from the host node's next restart",
               number(r.value));
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
