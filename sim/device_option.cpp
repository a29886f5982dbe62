#include "sim/device_option.h"

#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <tuple>

#include "setup/text_encoding.h"

namespace hostsim {

const char kDeviceOptionHelp[] =
    "  --device ADDRESS[/MASK][,FIELD=VALUE|,FLAG]...\n"
    "                      a network-attached device on UDP port 12580 (repeatable; devices\n"
    "                      answer a search in the order given). MASK defaults to\n"
    "                      255.255.255.0. Fields: gw=ADDRESS, mac=XX-XX-XX-XX-XX-XX (default\n"
    "                      02-00-00-00-00-NN, NN its number), dns=ADDRESS[+ADDRESS],\n"
    "                      centre=ADDRESS:PORT, desc=TEXT (no commas; default \"Device NN\").\n"
    "                      Flags: dhcp, auto-dns, twice (answers each search twice),\n"
    "                      short=N (answers with only N bytes of its entry), unconfirmed\n"
    "                      (applies updates silently), silent (answers nothing)\n"
    "  --device-address A  address the devices listen on (default 0.0.0.0, which hears\n"
    "                      broadcasts); they answer only requests from 127.0.0.0/8, so run\n"
    "                      hostsim and the client in a private network (unshare -n, lo up,\n"
    "                      255.255.255.255 routed to lo) to search by broadcast\n";

namespace {

[[noreturn]] void Refuse(const std::string &what) { throw std::invalid_argument(what); }

std::array<uint8_t, 6> ParseMacText(const std::string &text) {
    std::array<uint8_t, 6> mac{};
    char separator[5] = {};
    int end = 0;
    const int got = std::sscanf(text.c_str(), "%2hhx%c%2hhx%c%2hhx%c%2hhx%c%2hhx%c%2hhx%n",
                                &mac[0], &separator[0], &mac[1], &separator[1], &mac[2],
                                &separator[2], &mac[3], &separator[3], &mac[4], &separator[4],
                                &mac[5], &end);
    bool ok = got == 11 && static_cast<std::size_t>(end) == text.size();
    for (char c : separator) ok = ok && (c == '-' || c == ':');
    if (!ok) Refuse("mac wants six hexadecimal pairs such as 02-00-00-00-00-01: " + text);
    return mac;
}

uint16_t ParsePort(const std::string &text) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value > 65535) Refuse("bad port: " + text);
    return static_cast<uint16_t>(value);
}

unsigned ParseShortLength(const std::string &text) {
    const uint16_t n = ParsePort(text);
    if (n >= kDeviceEntrySize) Refuse("short= wants fewer than 66 bytes: " + text);
    return n;
}

// Splits "a+b", "a:b" and the like at the first `mark`; the second part is empty without it.
std::pair<std::string, std::string> SplitAt(const std::string &text, char mark) {
    const auto at = text.find(mark);
    if (at == std::string::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace

NetworkDevice ParseDeviceOption(const std::string &text, unsigned number) {
    DeviceEntryFields fields;
    NetworkDevice device;
    std::string_view rest = text;
    bool first = true;
    while (!rest.empty() || first) {
        const auto comma = rest.find(',');
        const std::string part(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (first) {
            first = false;
            auto [address, mask] = SplitAt(part, '/');
            fields.address = address;
            fields.mask = mask.empty() ? "255.255.255.0" : mask;
            continue;
        }
        const auto [key, value] = SplitAt(part, '=');
        if (key == "gw") {
            fields.gateway = value;
        } else if (key == "mac") {
            fields.mac = ParseMacText(value);
        } else if (key == "dns") {
            std::tie(fields.primaryDns, fields.secondaryDns) = SplitAt(value, '+');
        } else if (key == "centre") {
            const auto [address, port] = SplitAt(value, ':');
            fields.centre = address;
            fields.centrePort = ParsePort(port);
        } else if (key == "desc") {
            fields.description = tevrolink::Utf8ToGbk(value);
        } else if (key == "dhcp" && value.empty()) {
            fields.autoAddress = true;
        } else if (key == "auto-dns" && value.empty()) {
            fields.autoDns = true;
        } else if (key == "twice" && value.empty()) {
            device.behaviour.answersPerSearch = 2;
        } else if (key == "short") {
            device.behaviour.answerLength = static_cast<uint8_t>(ParseShortLength(value));
        } else if (key == "unconfirmed" && value.empty()) {
            device.behaviour.confirmUpdates = false;
        } else if (key == "silent" && value.empty()) {
            device.behaviour.silent = true;
        } else {
            Refuse("unknown device field: " + part);
        }
    }
    if (fields.address.empty()) Refuse("a device needs an address: " + text);
    if (fields.mac == std::array<uint8_t, 6>{})
        fields.mac = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(number)};
    if (fields.description.empty()) {
        char name[16];
        std::snprintf(name, sizeof name, "Device %02u", number);
        fields.description = name;
    }
    device.entry = MakeDeviceEntry(fields);
    return device;
}

}  // namespace hostsim
