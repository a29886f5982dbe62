// Splitting the command line into a subcommand, its positional values and its options.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct OptionSpec {
    const char *name;  // "--station"
    bool takesValue;
};

// Options every subcommand takes.
extern const std::vector<OptionSpec> kCommonOptions;  // --json, --help
// Options that choose and open the link to the host node.
extern const std::vector<OptionSpec> kLinkOptions;

struct Arguments {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;  // options that take a value
    std::vector<std::string> flags;             // options that do not

    bool Has(const std::string &option) const;
    std::optional<std::string> Value(const std::string &option) const;
    bool Json() const { return Has("--json"); }
    bool Help() const { return Has("--help"); }
};

// The subcommand: the first word that is neither an option nor an option's value.
// Empty when there is none.
std::string FindCommand(int argc, const char *const *argv);

// Parses everything but the subcommand word against `allowed`; "--name=value" and
// "--name value" are both taken, "--" ends the options. Throws UsageError for an option
// not in `allowed`, a missing value, a value given to a flag or an option given twice.
Arguments ParseArguments(int argc, const char *const *argv, const std::string &command,
                         const std::vector<OptionSpec> &allowed);

}  // namespace cli
