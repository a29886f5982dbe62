// tevrolink: the host node of a Zelkora radio network from the command line.
#include <cstdio>
#include <exception>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/errors.h"

namespace {

int Fail(int status, const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "tevrolink: %s\n", message.c_str());
    return status;
}

int Run(int argc, const char *const *argv) {
    using namespace cli;
    std::string name = FindCommand(argc, argv);
    if (name == "help") {
        // "tevrolink help [COMMAND]"
        const Arguments a = ParseArguments(argc, argv, name, kCommonOptions);
        if (a.positional.empty()) {
            std::fputs(OverviewHelp().c_str(), stdout);
            return kExitOk;
        }
        const Command *c = FindCommandByName(a.positional[0]);
        if (!c) throw UsageError("there is no command \"" + a.positional[0] + "\"; see tevrolink --help");
        std::fputs(CommandHelp(*c).c_str(), stdout);
        return kExitOk;
    }
    if (name.empty()) {
        std::vector<OptionSpec> allowed = kCommonOptions;
        allowed.insert(allowed.end(), kLinkOptions.begin(), kLinkOptions.end());
        const Arguments a = ParseArguments(argc, argv, name, allowed);
        if (a.Help()) {
            std::fputs(OverviewHelp().c_str(), stdout);
            return kExitOk;
        }
        throw UsageError("no command given; see tevrolink --help");
    }
    const Command *command = FindCommandByName(name);
    if (!command) throw UsageError("there is no command \"" + name + "\"; see tevrolink --help");
    std::vector<OptionSpec> allowed = kCommonOptions;
    if (command->usesLink) allowed.insert(allowed.end(), kLinkOptions.begin(), kLinkOptions.end());
    allowed.insert(allowed.end(), command->options.begin(), command->options.end());
    const Arguments args = ParseArguments(argc, argv, name, allowed);
    if (args.Help()) {
        std::fputs(CommandHelp(*command).c_str(), stdout);
        return kExitOk;
    }
    return command->run(args);
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return Run(argc, argv);
    } catch (const cli::UsageError &e) {
        return Fail(cli::kExitUsage, e.what());
    } catch (const cli::Failure &e) {
        return Fail(cli::kExitFailed, e.what());
    } catch (const std::exception &e) {
        return Fail(cli::kExitFailed, e.what());
    }
}
