#include "cli/arguments.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "cli/errors.h"

namespace cli {

const std::vector<OptionSpec> kCommonOptions = {{"--json", false}, {"--help", false}};

const std::vector<OptionSpec> kLinkOptions = {
    {"--port", true},       {"--baud", true},       {"--udp", true},
    {"--local-port", true}, {"--local-addr", true}, {"--handshake", false},
};

namespace {

const OptionSpec *Lookup(const std::vector<OptionSpec> &specs, const std::string &name) {
    for (const OptionSpec &s : specs)
        if (name == s.name) return &s;
    return nullptr;
}

// "-5" and "-20" are values (negative numbers, a power in dBm), not options.
bool IsOption(const std::string &arg) {
    return arg.size() > 1 && arg[0] == '-' &&
           (arg[1] == '-' || std::isalpha(static_cast<unsigned char>(arg[1])));
}

bool TakesValueAnywhere(const std::string &name) {
    const OptionSpec *s = Lookup(kLinkOptions, name);
    return s && s->takesValue;
}

}  // namespace

bool Arguments::Has(const std::string &option) const {
    return values.count(option) != 0 ||
           std::find(flags.begin(), flags.end(), option) != flags.end();
}

std::optional<std::string> Arguments::Value(const std::string &option) const {
    const auto it = values.find(option);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

std::string FindCommand(int argc, const char *const *argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return i + 1 < argc ? argv[i + 1] : "";
        if (IsOption(arg)) {
            // Link options may come before the subcommand; skip their values.
            if (arg.find('=') == std::string::npos && TakesValueAnywhere(arg)) ++i;
            continue;
        }
        return arg;
    }
    return "";
}

Arguments ParseArguments(int argc, const char *const *argv, const std::string &command,
                         const std::vector<OptionSpec> &allowed) {
    Arguments a;
    a.command = command;
    bool commandSeen = command.empty();
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !IsOption(arg)) {
            if (!commandSeen && arg == command) {
                commandSeen = true;
            } else {
                a.positional.push_back(arg);
            }
            continue;
        }
        if (arg == "-h") arg = "--help";
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const OptionSpec *spec = Lookup(allowed, arg);
        if (!spec) {
            const std::string where = command.empty() ? "" : " by " + command;
            throw UsageError("option " + arg + " is not taken" + where);
        }
        if (a.Has(arg)) throw UsageError("option " + arg + " is given twice");
        if (!spec->takesValue) {
            if (inlineValue) throw UsageError("option " + arg + " takes no value");
            a.flags.push_back(arg);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) throw UsageError("option " + arg + " needs a value");
            inlineValue = argv[++i];
        }
        a.values[arg] = *inlineValue;
    }
    return a;
}

}  // namespace cli
