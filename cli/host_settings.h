// The host node's settings as one value, and changing one of them: shared by info, set
// and the settings profiles, so that every way in makes the same range checks.
#pragma once

#include <cstdint>
#include <string>

#include "cli/output.h"
#include "manager/core/host_settings.h"

namespace cli {

using meradon::HostSettings;

// Reads them all; throws Failure naming the request that got no answer.
HostSettings ReadHostSettings();

// One setting to change, its value already checked.
struct SettingChange {
    std::string setting;  // station, peer, freq1, freq2, power, retransmission or baud
    uint32_t value = 0;   // peer 0 = broadcast; retransmission 0 or 1
};

// True for the settings `set` changes with a value.
bool KnownSetting(const std::string &setting);
// The range checks of `set`: throws UsageError for an unknown setting or a bad value.
SettingChange CheckSetting(const std::string &setting, const std::string &value);

// Sends the change and returns the value the host node reports in force (the value asked
// for where the node does not echo one). Throws Failure when it does not answer, and for a
// peer on a slave node, which takes none.
uint32_t ApplySetting(const SettingChange &change);

// The value of `setting` in `settings` (as SettingChange holds it), and as people read it.
uint32_t SettingValue(const HostSettings &settings, const std::string &setting);
std::string DescribeSetting(const std::string &setting, uint32_t value);
// The value as a JSON value in the units people read: a power as its level, dBm and text,
// retransmission true or false, peer 0 as "broadcast".
Json SettingJson(const std::string &setting, uint32_t value);

}  // namespace cli
