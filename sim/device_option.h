// The hostsim program's --device option: one network-attached device described in one
// argument, e.g. "192.168.1.20/255.255.255.0,gw=192.168.1.1,mac=02-00-00-00-00-01,desc=Gate".
#pragma once

#include <string>

#include "sim/network_device.h"

namespace hostsim {

extern const char kDeviceOptionHelp[];

// Parses the text of one --device option for the device numbered `number` (1 onwards;
// it makes the default MAC address and description). Throws std::invalid_argument with
// a message that names the bad part.
NetworkDevice ParseDeviceOption(const std::string &text, unsigned number);

}  // namespace hostsim
