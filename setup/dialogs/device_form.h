// What the network set-up dialog shows of a network-attached device, and the checks a
// changed configuration must pass before it is sent: plain values, no widgets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "setup/adapter_info.h"
#include "tevrolink/tevrolink.h"

namespace tevrolink::dialogs {

inline constexpr char kAllInterfaces[] = "All Interfaces";

// The device side of the dialog. Addresses in host order, 0 = empty field; texts UTF-8.
struct DeviceForm {
    std::string description;
    std::string macText;  // "00-1A-2B-3C-4D-5E"
    bool autoAddress = false;
    Ipv4 address = 0, mask = 0, gateway = 0;
    bool autoDns = false;
    Ipv4 primaryDns = 0, secondaryDns = 0;
    Ipv4 centreAddress = 0;
    std::string centrePortText;
};

DeviceForm FormFromEntry(const DeviceEntry &entry);

// The entry to send, or the message that refuses the first invalid field.
struct CheckedEntry {
    DeviceEntry entry{};
    const char *refusal = nullptr;  // UTF-8; null when the entry may be sent
};
CheckedEntry EntryFromForm(const DeviceForm &form);

// The device table's columns 1 to 5 for `entry`: address, mask, gateway, control centre
// ("a.b.c.d:port") and description.
std::array<std::string, 5> DeviceRowTexts(const DeviceEntry &entry);
// Column 0 of row `row` (from 0): its number, with a check mark on the chosen row.
std::string RowNumberText(int row, bool chosen);

// A port field's text as a decimal number, its low 16 bits; 0 for anything else.
uint16_t PortFromText(std::string_view text);

// The local address list: "All Interfaces", then the addresses; and the entry to select
// for `localAddress` (0 when it is empty or not in the list).
std::vector<std::string> LocalAddressChoices(const std::vector<Ipv4> &addresses);
int LocalAddressIndex(const std::vector<std::string> &choices, std::string_view localAddress);
// The control-centre address that the copy button takes from the selected local address:
// the first real address when "All Interfaces" is selected (the text itself if none).
std::string CentreAddressForCopy(const std::vector<std::string> &choices, int selected);

// "192.168.1.5:10086" for the window title ("All Interfaces:10086" when empty).
std::string LocalEndpointText(std::string_view localAddress, uint16_t localPort);

}  // namespace tevrolink::dialogs
