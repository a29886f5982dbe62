// settings save|load: the host node's settings as a JSON profile, so that the next nodes
// can be made to look exactly like this one.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/host_settings.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/values.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

const char kSettingsHelp[] =
    "usage: tevrolink settings save [LINK OPTIONS] FILE [--json]\n"
    "       tevrolink settings load [LINK OPTIONS] FILE [--dry-run] [--force] [--json]\n"
    "\n"
    "save writes the host node's settings to FILE as JSON: station, role, peer, both\n"
    "frequency points, power, retransmission, and the firmware version for reference.\n"
    "\n"
    "load reads the host node, prints what would change, and applies only the\n"
    "differences, with the checks of \"set\"; it then reads the node back and fails\n"
    "(status 1) naming any value that did not take. Settings missing from FILE are left\n"
    "alone. Role and firmware are never applied but compared: a profile of a master node\n"
    "is refused for a slave node and the other way round (status 1), a different firmware\n"
    "is a warning. Powers are texts in dBm (\"-5 dBm\") or levels (\"level 4\").\n"
    "\n"
    "  --dry-run            print what would change and change nothing\n"
    "  --force              load a profile of the other role all the same\n";

// The settings a profile applies, in the order they are applied.
const char *const kProfileSettings[] = {"station", "peer", "freq1", "freq2", "power", "retransmission"};

std::string RoleText(bool master) { return master ? "master" : "slave"; }

std::string ProfileText(const HostSettings &s) {
    const Json profile = {{"station", s.station},
                          {"role", RoleText(s.master)},
                          {"peer", s.peer == 0 ? Json("broadcast") : Json(s.peer)},
                          {"freq1", s.freq1},
                          {"freq2", s.freq2},
                          {"power", kPowerTexts[s.power & 7]},
                          {"retransmission", s.retransmission},
                          {"firmware", s.firmware}};
    return JsonText(profile) + "\n";
}

// A profile's value as the text `set` takes on its command line.
std::string ValueText(const std::string &setting, const nlohmann::json &value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    if (value.is_number()) {
        const double number = value.get<double>();
        if (setting == "peer" && number == 0) return "broadcast";
        std::ostringstream text;
        text << number;
        return text.str();
    }
    throw UsageError("the profile's " + setting + " is neither a number, a text nor true or false");
}

// What a profile holds, all checked before the link is opened.
struct Profile {
    std::vector<SettingChange> changes;
    std::optional<bool> master;
    std::optional<std::string> firmware;
};

Profile ReadProfile(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw Failure("cannot read the profile " + path + ": it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot read the profile " + path + ": " + std::strerror(errno));
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(in);  // a leading byte order mark, as Notepad saves it, is skipped
    } catch (const nlohmann::json::out_of_range &) {
        throw UsageError(path + " is no profile: number out of range");
    } catch (const nlohmann::json::parse_error &error) {
        // A profile edited in a Chinese Windows editor is often saved as GBK.
        if (std::strstr(error.what(), "UTF-8"))
            throw UsageError(path + " is no profile: not UTF-8 text (save it as UTF-8)");
        throw UsageError(path + " is no profile: not valid JSON");
    } catch (const nlohmann::json::exception &) {
        throw UsageError(path + " is no profile: not valid JSON");
    }
    if (!object.is_object()) throw UsageError(path + " is no profile: not a JSON object");
    for (const auto &item : object.items()) {
        const std::string &key = item.key();
        bool known = key == "role" || key == "firmware";
        for (const char *setting : kProfileSettings) known = known || key == setting;
        if (!known) throw UsageError("the profile has a setting \"" + key + "\" that a host node does not have");
    }
    Profile profile;
    if (const auto role = object.find("role"); role != object.end()) {
        if (*role != "master" && *role != "slave")
            throw UsageError("the profile's role must be \"master\" or \"slave\"");
        profile.master = *role == "master";
    }
    if (const auto firmware = object.find("firmware"); firmware != object.end()) {
        if (!firmware->is_string()) throw UsageError("the profile's firmware must be a text");
        profile.firmware = firmware->get<std::string>();
    }
    for (const char *setting : kProfileSettings) {
        const auto it = object.find(setting);
        if (it != object.end()) profile.changes.push_back(CheckSetting(setting, ValueText(setting, *it)));
    }
    return profile;
}

// A profile is made for one kind of node: another role is refused unless forced, another
// firmware is worth a word.
void CompareNode(const Profile &profile, const HostSettings &node, bool force) {
    if (profile.master && *profile.master != node.master) {
        const std::string which = "the profile is of a " + RoleText(*profile.master) +
                                  " node and this host node is a " + RoleText(node.master);
        if (!force) throw Failure(which + "; --force loads it all the same");
        std::fprintf(stderr, "tevrolink: warning: %s\n", which.c_str());
    }
    if (profile.firmware && *profile.firmware != node.firmware)
        std::fprintf(stderr, "tevrolink: warning: the profile was saved from firmware \"%s\", this host node runs \"%s\"\n",
                     profile.firmware->c_str(), node.firmware.c_str());
}

void WriteProfile(const std::string &path, const std::string &text) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) throw Failure("cannot write the profile " + path + ": " + std::strerror(errno));
    int error = std::fwrite(text.data(), 1, text.size(), out) == text.size() ? 0 : errno;
    // A full disk may show only when the buffer goes out, at the close.
    if (std::fclose(out) != 0 && error == 0) error = errno;
    if (error == 0) return;
    throw Failure("cannot write the profile " + path + ": " + std::strerror(error));
}

std::string FileArgument(const Arguments &args, const char *verb) {
    if (args.positional.size() != 2) throw UsageError(std::string("settings ") + verb + " wants one FILE");
    return args.positional[1];
}

int RunSave(const Arguments &args) {
    const std::string path = FileArgument(args, "save");
    for (const char *option : {"--dry-run", "--force"})
        if (args.Has(option)) throw UsageError(std::string(option) + " belongs to settings load");
    LinkSession link(ParseLinkOptions(args));
    const HostSettings settings = ReadHostSettings();
    WriteProfile(path, ProfileText(settings));
    if (args.Json()) {
        PrintJson({{"saved", DisplayPath(path)}, {"station", settings.station}});
    } else {
        std::printf("saved the settings of station %u to %s\n", settings.station, path.c_str());
    }
    return kExitOk;
}

int RunLoad(const Arguments &args) {
    const std::string path = FileArgument(args, "load");
    const Profile profile = ReadProfile(path);
    const bool dryRun = args.Has("--dry-run");
    LinkSession link(ParseLinkOptions(args));
    const HostSettings before = ReadHostSettings();
    CompareNode(profile, before, args.Has("--force"));

    struct Difference {
        SettingChange change;
        uint32_t from;
    };
    std::vector<Difference> differences;
    for (const SettingChange &c : profile.changes) {
        const uint32_t now = SettingValue(before, c.setting);
        if (now != c.value) differences.push_back({c, now});
    }
    if (!args.Json()) {
        for (const Difference &d : differences)
            std::printf("%s: %s -> %s\n", d.change.setting.c_str(), DescribeSetting(d.change.setting, d.from).c_str(),
                        DescribeSetting(d.change.setting, d.change.value).c_str());
        if (differences.empty()) std::printf("the host node already has these settings\n");
        else if (dryRun) std::printf("dry run: nothing was changed\n");
    }

    std::string refusals;
    if (!dryRun) {
        for (const Difference &d : differences) {
            try {
                ApplySetting(d.change);
            } catch (const Failure &refused) {
                if (!IsShellActive()) throw;
                refusals += std::string("; ") + refused.what();
            }
        }
        const HostSettings after = ReadHostSettings();
        std::string untaken;
        for (const Difference &d : differences) {
            const uint32_t now = SettingValue(after, d.change.setting);
            if (now == d.change.value) continue;
            untaken += (untaken.empty() ? "" : ", ") + d.change.setting + " " +
                       DescribeSetting(d.change.setting, d.change.value) + " (it keeps " +
                       DescribeSetting(d.change.setting, now) + ")";
        }
        if (!untaken.empty()) throw Failure("the host node did not take " + untaken + refusals);
    }
    if (args.Json()) {
        Json changes = Json::array();
        for (const Difference &d : differences)
            changes.push_back({{"setting", d.change.setting},
                               {"from", SettingJson(d.change.setting, d.from)},
                               {"to", SettingJson(d.change.setting, d.change.value)}});
        PrintJson({{"dryRun", dryRun}, {"changes", changes}});
    } else if (!dryRun && !differences.empty()) {
        std::printf("applied %zu change%s\n", differences.size(), differences.size() == 1 ? "" : "s");
    }
    return kExitOk;
}

int RunSettings(const Arguments &args) {
    const std::string verb = args.positional.empty() ? std::string() : args.positional[0];
    if (verb == "save") return RunSave(args);
    if (verb == "load") return RunLoad(args);
    throw UsageError("settings wants save FILE or load FILE; see tevrolink settings --help");
}

}  // namespace

std::vector<Command> ProfileCommands() {
    return {
        {"settings", "save the host node's settings to a file, or load them into a node", kSettingsHelp,
         true, {{"--dry-run", false}, {"--force", false}}, RunSettings},
    };
}

}  // namespace cli
