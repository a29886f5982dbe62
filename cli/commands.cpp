#include "cli/commands.h"

#include <cstdio>

namespace cli {

const char kLinkOptionsHelp[] =
    "Link options (give --port or --udp):\n"
    "  --port PATH          serial port of the host node: a path, or a name under /dev\n"
    "                       (ttyUSB0)\n"
    "  --baud N             serial line speed in bit/s (default 19200)\n"
    "  --udp ADDR[:PORT]    host node on the network (remote port default 12580)\n"
    "  --local-port N       local UDP port to send from and listen on (default 10086)\n"
    "  --local-addr ADDR    local address to bind (default: any)\n"
    "  --handshake          turn on the PC side of retransmission support (default off)\n";

namespace {

const char kCommonHelp[] =
    "Common options:\n"
    "  --json               print the result as one JSON document on standard output\n"
    "  --help, -h           show this text\n";

}  // namespace

const std::vector<Command> &AllCommands() {
    static const std::vector<Command> all = [] {
        std::vector<Command> v;
        for (auto group : {PortCommands, SettingCommands, ProfileCommands, StationCommands,
                           FlashCommands, DeviceCommands, MonitorCommands, QualityCommands,
                           HistoryCommands})
            for (Command &c : group()) v.push_back(std::move(c));
        return v;
    }();
    return all;
}

const Command *FindCommandByName(const std::string &name) {
    for (const Command &c : AllCommands())
        if (name == c.name) return &c;
    return nullptr;
}

std::string OverviewHelp() {
    std::string text =
        "usage: tevrolink [LINK OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]\n"
        "\n"
        "Talks to the host node of a Zelkora radio network over a serial port or UDP.\n"
        "\n"
        "Commands:\n";
    for (const Command &c : AllCommands()) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-13s%s\n", c.name, c.summary);
        text += line;
    }
    text += "\n";
    text += kLinkOptionsHelp;
    text += "\n";
    text += kCommonHelp;
    text +=
        "\n"
        "Exit status: 0 success, 1 the operation failed, 2 bad usage or bad input (nothing\n"
        "was sent).\n"
        "\"tevrolink COMMAND --help\" describes a command and its options.\n";
    return text;
}

std::string CommandHelp(const Command &command) {
    std::string text = command.help;
    if (command.usesLink) text += std::string("\n") + kLinkOptionsHelp;
    text += std::string("\n") + kCommonHelp;
    return text;
}

}  // namespace cli
