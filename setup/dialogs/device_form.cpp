#include "setup/dialogs/device_form.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "setup/text_encoding.h"

namespace tevrolink::dialogs {
namespace {

Ipv4 FromWire(const uint8_t (&bytes)[4]) {
    return Ipv4(bytes[0]) << 24 | Ipv4(bytes[1]) << 16 | Ipv4(bytes[2]) << 8 | bytes[3];
}

void ToWire(Ipv4 address, uint8_t (&bytes)[4]) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(address >> (24 - 8 * i));
}

// At most `limit` bytes of GBK text, never ending inside a two-byte character.
std::string CutGbk(std::string text, std::size_t limit) {
    std::size_t end = 0;
    while (end < text.size()) {
        const bool lead = static_cast<uint8_t>(text[end]) >= 0x81;
        const std::size_t next = end + (lead ? 2 : 1);
        if (next > limit) break;
        end = next;
    }
    text.resize(std::min(end, text.size()));
    return text;
}

}  // namespace

DeviceForm FormFromEntry(const DeviceEntry &entry) {
    DeviceForm form;
    form.description = DeviceRowTexts(entry)[4];
    std::array<uint8_t, 6> mac;
    std::memcpy(mac.data(), entry.macAddress, mac.size());
    form.macText = MacText(mac);
    form.autoAddress = entry.autoAddress != 0;
    form.address = FromWire(entry.ipAddress);
    form.mask = FromWire(entry.subnetMask);
    form.gateway = FromWire(entry.gateway);
    form.autoDns = entry.autoDns != 0;
    form.primaryDns = FromWire(entry.primaryDns);
    form.secondaryDns = FromWire(entry.secondaryDns);
    form.centreAddress = FromWire(entry.centreAddress);
    form.centrePortText = std::to_string(entry.centrePort[0] << 8 | entry.centrePort[1]);
    return form;
}

CheckedEntry EntryFromForm(const DeviceForm &form) {
    CheckedEntry checked;
    DeviceEntry &entry = checked.entry;
    auto refuse = [&](const char *message) {
        checked.refusal = message;
        return checked;
    };
    // The address fields must hold an address even when the device is to obtain one.
    if (form.address == 0) return refuse("IP 地址输入错误");
    if (form.mask == 0) return refuse("Subnet 输入错误");
    if (form.gateway == 0) return refuse("Gateway 输入错误");
    ToWire(form.address, entry.ipAddress);
    ToWire(form.mask, entry.subnetMask);
    ToWire(form.gateway, entry.gateway);
    entry.autoAddress = form.autoAddress ? 1 : 0;
    if (const auto mac = ParseMac(form.macText))
        std::memcpy(entry.macAddress, mac->data(), mac->size());
    ToWire(form.primaryDns, entry.primaryDns);
    ToWire(form.secondaryDns, entry.secondaryDns);
    entry.autoDns = form.autoDns ? 1 : 0;
    if (form.centreAddress == 0) return refuse("控制中心网络地址输入错误");
    ToWire(form.centreAddress, entry.centreAddress);
    const uint16_t port = PortFromText(form.centrePortText);
    if (port == 0) return refuse("控制中心端口输入错误");
    entry.centrePort[0] = static_cast<uint8_t>(port >> 8);
    entry.centrePort[1] = static_cast<uint8_t>(port);
    const std::string description =
        CutGbk(Utf8ToGbk(form.description), sizeof entry.description - 1);
    std::memcpy(entry.description, description.data(), description.size());
    return checked;
}

std::array<std::string, 5> DeviceRowTexts(const DeviceEntry &entry) {
    const unsigned port = entry.centrePort[0] << 8 | entry.centrePort[1];
    // A description that fills all 32 bytes has no terminator; it ends there.
    return {Ipv4Text(FromWire(entry.ipAddress)), Ipv4Text(FromWire(entry.subnetMask)),
            Ipv4Text(FromWire(entry.gateway)),
            Ipv4Text(FromWire(entry.centreAddress)) + ":" + std::to_string(port),
            GbkToUtf8(std::string_view(entry.description, sizeof entry.description))};
}

std::string RowNumberText(int row, bool chosen) {
    return std::to_string(row + 1) + (chosen ? "√" : "");
}

uint16_t PortFromText(std::string_view text) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return static_cast<uint16_t>(value);
}

std::vector<std::string> LocalAddressChoices(const std::vector<Ipv4> &addresses) {
    std::vector<std::string> choices{kAllInterfaces};
    for (Ipv4 address : addresses) choices.push_back(Ipv4Text(address));
    return choices;
}

int LocalAddressIndex(const std::vector<std::string> &choices, std::string_view localAddress) {
    if (localAddress.empty()) return 0;
    const auto found = std::find(choices.begin() + 1, choices.end(), localAddress);
    return found == choices.end() ? 0 : static_cast<int>(found - choices.begin());
}

std::string CentreAddressForCopy(const std::vector<std::string> &choices, int selected) {
    if (selected > 0 && selected < static_cast<int>(choices.size())) return choices[selected];
    if (choices.size() > 1) return choices[1];
    return kAllInterfaces;
}

std::string LocalEndpointText(std::string_view localAddress, uint16_t localPort) {
    return std::string(localAddress.empty() ? kAllInterfaces : localAddress) + ":" +
           std::to_string(localPort);
}

}  // namespace tevrolink::dialogs
