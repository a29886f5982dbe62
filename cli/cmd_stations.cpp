// activate and suspend stations of the radio network; status: the four station bitmaps.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/values.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

constexpr int kBitmapSize = 32;
constexpr int kBitmaps = 4;
const char *const kBitmapNames[kBitmaps] = {"active", "online", "link", "suspended"};

const char kActivateHelp[] =
    "usage: tevrolink activate [LINK OPTIONS] STATIONS [--json]\n"
    "\n"
    "Activates the stations listed, e.g. 1,5,8-10 (each 1-254); listing a suspended\n"
    "station takes it back. Prints the stations active afterwards.\n";

const char kSuspendHelp[] =
    "usage: tevrolink suspend [LINK OPTIONS] STATIONS [--json]\n"
    "\n"
    "Takes the stations listed, e.g. 1,5,8-10 (each 1-254), out of the active set.\n"
    "Prints the stations active afterwards.\n";

const char kStatusHelp[] =
    "usage: tevrolink status [LINK OPTIONS] [--json]\n"
    "\n"
    "Reads the node status of the network and shows, for every station that appears in\n"
    "any of them, whether it is active, online, has a radio link and is suspended.\n";

std::vector<uint8_t> ActiveStations() {
    uint8_t list[255] = {};
    uint8_t count = 0;
    Require(GetActiveNodeList(list, sizeof list, &count), "the request for its active stations");
    return std::vector<uint8_t>(list, list + count);
}

int ChangeActive(const Arguments &args, bool activate) {
    const char *verb = activate ? "activate" : "suspend";
    if (args.positional.size() != 1)
        throw UsageError(std::string(verb) + " wants one list of stations, such as 1,5,8-10");
    const std::vector<uint8_t> stations = ParseStationList(args.positional[0]);
    LinkSession link(ParseLinkOptions(args));
    const int count = static_cast<int>(stations.size());
    Require(activate ? SetNodeActive(stations.data(), count) : SetNodeInactive(stations.data(), count),
            std::string("the request to ") + verb + " stations " + FormatStationList(stations));
    const std::vector<uint8_t> active = ActiveStations();
    if (args.Json()) {
        PrintJson({{activate ? "activated" : "suspended", stations}, {"active", active}});
    } else {
        std::printf("%s: %s\nactive stations: %s\n", activate ? "activated" : "suspended",
                    FormatStationList(stations).c_str(),
                    active.empty() ? "none" : FormatStationList(active).c_str());
    }
    return kExitOk;
}

int RunActivate(const Arguments &args) { return ChangeActive(args, true); }
int RunSuspend(const Arguments &args) { return ChangeActive(args, false); }

bool Bit(const uint8_t *bitmap, unsigned station) { return (bitmap[station / 8] >> (station % 8)) & 1; }

int RunStatus(const Arguments &args) {
    if (!args.positional.empty()) throw UsageError("status takes no arguments");
    LinkSession link(ParseLinkOptions(args));
    uint8_t reply[1024] = {};
    uint8_t length = 0;
    Require(GetNetworkNodeStatus(reply, sizeof reply, &length), "the request for the node status");
    // Bitmaps the reply leaves out read as empty.
    uint8_t maps[kBitmaps * kBitmapSize] = {};
    std::copy_n(reply, std::min<int>(length, sizeof maps), maps);

    struct Row {
        unsigned station;
        bool flags[kBitmaps];
    };
    std::vector<Row> rows;
    for (unsigned n = 1; n <= 254; ++n) {
        Row row{n, {}};
        bool any = false;
        for (int m = 0; m < kBitmaps; ++m) {
            row.flags[m] = Bit(maps + m * kBitmapSize, n);
            any = any || row.flags[m];
        }
        if (any) rows.push_back(row);
    }
    if (args.Json()) {
        Json list = Json::array();
        for (const Row &r : rows) {
            Json station = {{"station", r.station}};
            for (int m = 0; m < kBitmaps; ++m) station[kBitmapNames[m]] = r.flags[m];
            list.push_back(station);
        }
        PrintJson({{"stations", list}});
        return kExitOk;
    }
    if (rows.empty()) {
        std::printf("no station is active, online, linked or suspended\n");
        return kExitOk;
    }
    std::vector<std::vector<std::string>> table;
    for (const Row &r : rows) {
        std::vector<std::string> cells{std::to_string(r.station)};
        for (int m = 0; m < kBitmaps; ++m) cells.push_back(r.flags[m] ? "yes" : "-");
        table.push_back(cells);
    }
    PrintTable({"STATION", "ACTIVE", "ONLINE", "LINK", "SUSPENDED"}, table);
    return kExitOk;
}

}  // namespace

std::vector<Command> StationCommands() {
    return {
        {"activate", "activate stations", kActivateHelp, true, {}, RunActivate},
        {"suspend", "suspend stations", kSuspendHelp, true, {}, RunSuspend},
        {"status", "show which stations are active, online, linked, suspended", kStatusHelp, true, {},
         RunStatus},
    };
}

}  // namespace cli
