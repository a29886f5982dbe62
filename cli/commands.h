// The subcommands of tevrolink. Each group of subcommands lives in a file of its own and
// hands its entries to the table here.
#pragma once

#include <string>
#include <vector>

#include "cli/arguments.h"

namespace cli {

struct Command {
    const char *name;
    const char *summary;  // one line for the overview
    const char *help;     // the whole text of "tevrolink NAME --help", without link options
    bool usesLink;        // takes the link options and opens the link
    std::vector<OptionSpec> options;  // its own options, beyond the common and link ones
    int (*run)(const Arguments &args);
};

// Groups, in the order the overview lists them.
std::vector<Command> PortCommands();      // ports, detect
std::vector<Command> SettingCommands();   // info, set
std::vector<Command> ProfileCommands();   // settings save|load
std::vector<Command> StationCommands();   // activate, suspend, status
std::vector<Command> FlashCommands();     // flash-write, flash-read
std::vector<Command> DeviceCommands();    // discover, configure
std::vector<Command> MonitorCommands();   // monitor
std::vector<Command> QualityCommands();   // quality
std::vector<Command> HistoryCommands();   // history

const std::vector<Command> &AllCommands();
const Command *FindCommandByName(const std::string &name);

// The help texts of the link options and of the whole program.
extern const char kLinkOptionsHelp[];
std::string OverviewHelp();
std::string CommandHelp(const Command &command);

}  // namespace cli
