// discover: network-attached host nodes found by broadcast; configure: change one's
// network configuration.
#include <net/if.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/output.h"
#include "cli/values.h"
#include "setup/text_encoding.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

constexpr std::size_t kDescriptionBytes = sizeof(DeviceEntry::description) - 1;  // NUL within
// Answers are read until one read waits in vain; a flood of datagrams cannot hold the
// search forever.
constexpr int kMaxDatagrams = 1024;
constexpr auto kMaxSearch = std::chrono::seconds(10);

const char kDiscoverHelp[] =
    "usage: tevrolink discover [--json]\n"
    "\n"
    "Broadcasts a device search on UDP port 12580 out of every network adapter that is up\n"
    "and has an IPv4 address, and lists the network-attached host nodes that answer: the\n"
    "adapter the answer came in on, address, mask, gateway, MAC address, DNS servers,\n"
    "control centre address and port, description, and whether address (DHCP) and DNS\n"
    "servers are obtained automatically. Answers are read until none has come for about\n"
    "200 ms. When the search cannot be sent on any adapter, says why and exits with 1.\n";

const char kConfigureHelp[] =
    "usage: tevrolink configure MAC KEY=VALUE... [--json]\n"
    "\n"
    "Searches for the device with hardware address MAC (00-1A-2B-3C-4D-5E), changes the\n"
    "fields given, sends the new configuration by broadcast out of every adapter (the MAC\n"
    "address inside it chooses the device) and waits for its confirmation. Every value is\n"
    "checked before anything is sent.\n"
    "\n"
    "Fields:\n"
    "  ip=ADDR  mask=MASK  gateway=ADDR  dns1=ADDR  dns2=ADDR\n"
    "  centre=ADDR          address of the control centre (this PC, as a rule)\n"
    "  centre-port=N        UDP port of the control centre, 1-65535\n"
    "  description=TEXT     at most 31 bytes once written in GBK\n"
    "  dhcp=on|off          obtain address, mask and gateway automatically\n"
    "  auto-dns=on|off      obtain the DNS servers automatically\n";

// Opens the broadcast shell; it is closed again when this goes out of scope.
class BroadcastShell {
public:
    BroadcastShell() {
        if (!OpenNETShell(nullptr, "255.255.255.255", 0, DEVICE_PORT))
            throw Failure(std::string("cannot open a UDP socket for the device search: ") + std::strerror(errno));
    }
    ~BroadcastShell() { CloseShell(); }
    BroadcastShell(const BroadcastShell &) = delete;
    BroadcastShell &operator=(const BroadcastShell &) = delete;
};

// Why a search or an update left on no adapter, from the errno the library set.
std::string NotSentReason(const char *what) {
    const int error = errno;
    if (error == ENODEV) return std::string("no network adapter is up that can broadcast; the ") + what + " was not sent";
    if (error == EADDRNOTAVAIL) return std::string("no network adapter that is up has an IPv4 address; the ") + what + " was not sent";
    return std::string("the ") + what + " could not be sent: " + std::strerror(error);
}

struct FoundDevice {
    DeviceEntry entry;
    std::string adapter;  // the adapter the answer came in on; empty when not known
};

std::string ArrivalAdapter() {
    char name[IF_NAMESIZE] = {};
    return GetSocketPacketAdapter(name, sizeof name) == 1 ? name : "";
}

std::vector<FoundDevice> Search() {
    BroadcastShell shell;
    if (!SendIPDeviceSearchRequest()) throw Failure(NotSentReason("device search"));
    std::vector<FoundDevice> devices;
    const auto deadline = std::chrono::steady_clock::now() + kMaxSearch;
    for (int n = 0; n < kMaxDatagrams && std::chrono::steady_clock::now() < deadline; ++n) {
        LinkFrameRecord frame{};
        const int got = ReadSocketPacket(frame, sizeof frame);
        if (got == 0) break;
        if (got < 0) throw Failure(std::string("the device search failed: ") + std::strerror(errno));
        if (!IsValidIPAddrResponse(frame)) continue;
        FoundDevice found{{}, ArrivalAdapter()};
        std::memcpy(&found.entry, frame + TEVROLINK_FRAME_HEADER, sizeof found.entry);
        devices.push_back(found);
    }
    return devices;
}

std::string Description(const DeviceEntry &d) {
    return tevrolink::GbkToUtf8(std::string_view(d.description, sizeof d.description));
}

unsigned CentrePort(const DeviceEntry &d) { return d.centrePort[0] * 256u + d.centrePort[1]; }

Json DeviceJson(const DeviceEntry &d, const std::string *adapter = nullptr) {
    Json json = Json::object();
    if (adapter) json["adapter"] = *adapter;
    json["address"] = FormatIpv4(d.ipAddress);
    json["mask"] = FormatIpv4(d.subnetMask);
    json["gateway"] = FormatIpv4(d.gateway);
    json["mac"] = FormatMac(d.macAddress);
    json["dns1"] = FormatIpv4(d.primaryDns);
    json["dns2"] = FormatIpv4(d.secondaryDns);
    json["centre"] = FormatIpv4(d.centreAddress);
    json["centre_port"] = CentrePort(d);
    json["description"] = Description(d);
    json["dhcp"] = d.autoAddress != 0;
    json["auto_dns"] = d.autoDns != 0;
    return json;
}

std::vector<std::string> DeviceRow(const DeviceEntry &d) {
    return {FormatIpv4(d.ipAddress),
            FormatIpv4(d.subnetMask),
            FormatIpv4(d.gateway),
            FormatMac(d.macAddress),
            FormatIpv4(d.primaryDns) + "," + FormatIpv4(d.secondaryDns),
            FormatIpv4(d.centreAddress) + ":" + std::to_string(CentrePort(d)),
            d.autoAddress ? "on" : "off",
            d.autoDns ? "on" : "off",
            Description(d)};
}

const std::vector<std::string> kDeviceHeaders = {"ADDRESS", "MASK",  "GATEWAY",  "MAC",        "DNS",
                                                 "CENTRE",  "DHCP",  "AUTO-DNS", "DESCRIPTION"};

int RunDiscover(const Arguments &args) {
    if (!args.positional.empty()) throw UsageError("discover takes no arguments");
    const std::vector<FoundDevice> devices = Search();
    if (args.Json()) {
        Json list = Json::array();
        for (const FoundDevice &d : devices) list.push_back(DeviceJson(d.entry, &d.adapter));
        PrintJson({{"devices", list}});
        return kExitOk;
    }
    if (devices.empty()) {
        std::printf("no device answered the search\n");
        return kExitOk;
    }
    std::vector<std::string> headers = {"ADAPTER"};
    headers.insert(headers.end(), kDeviceHeaders.begin(), kDeviceHeaders.end());
    std::vector<std::vector<std::string>> rows;
    for (const FoundDevice &d : devices) {
        rows.push_back({d.adapter.empty() ? "?" : d.adapter});
        const std::vector<std::string> fields = DeviceRow(d.entry);
        rows.back().insert(rows.back().end(), fields.begin(), fields.end());
    }
    PrintTable(headers, rows);
    return kExitOk;
}

bool ValidMask(const Ipv4 &m) {
    const uint32_t v = (uint32_t{m[0]} << 24) | (uint32_t{m[1]} << 16) | (uint32_t{m[2]} << 8) | m[3];
    return (~v & (~v + 1)) == 0;  // ones, then only zeros
}

// The changes asked for, each checked; applied to the device's entry once it is found.
struct Changes {
    std::map<std::string, std::string> fields;

    void ApplyTo(DeviceEntry &d) const {
        for (const auto &[key, value] : fields) {
            Ipv4 a{};
            ParseIpv4(value, a);
            if (key == "ip") std::memcpy(d.ipAddress, a.data(), 4);
            if (key == "mask") std::memcpy(d.subnetMask, a.data(), 4);
            if (key == "gateway") std::memcpy(d.gateway, a.data(), 4);
            if (key == "dns1") std::memcpy(d.primaryDns, a.data(), 4);
            if (key == "dns2") std::memcpy(d.secondaryDns, a.data(), 4);
            if (key == "centre") std::memcpy(d.centreAddress, a.data(), 4);
            if (key == "centre-port") {
                const uint32_t port = std::stoul(value);
                d.centrePort[0] = static_cast<uint8_t>(port >> 8);
                d.centrePort[1] = static_cast<uint8_t>(port & 0xFF);
            }
            if (key == "description") {
                const std::string gbk = tevrolink::Utf8ToGbk(value);
                std::memset(d.description, 0, sizeof d.description);
                std::memcpy(d.description, gbk.data(), gbk.size());
            }
            if (key == "dhcp") d.autoAddress = ParseOnOff(value, key) ? 1 : 0;
            if (key == "auto-dns") d.autoDns = ParseOnOff(value, key) ? 1 : 0;
        }
    }
};

Changes ParseChanges(const std::vector<std::string> &items) {
    Changes c;
    if (items.empty()) throw UsageError("configure wants at least one KEY=VALUE; see tevrolink configure --help");
    for (const std::string &item : items) {
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) throw UsageError("\"" + item + "\" is not KEY=VALUE");
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (c.fields.count(key)) throw UsageError(key + " is given twice");
        Ipv4 a{};
        if (key == "ip" || key == "gateway" || key == "dns1" || key == "dns2" || key == "centre") {
            if (!ParseIpv4(value, a)) throw UsageError(key + " wants an IPv4 address, not \"" + value + "\"");
        } else if (key == "mask") {
            if (!ParseIpv4(value, a) || !ValidMask(a))
                throw UsageError("mask wants a subnet mask such as 255.255.255.0, not \"" + value + "\"");
        } else if (key == "centre-port") {
            ParseNumber(value, 1, 65535, "centre-port");
        } else if (key == "description") {
            const std::string gbk = tevrolink::Utf8ToGbk(value);
            if (gbk.size() > kDescriptionBytes)
                throw UsageError("the description takes at most " + std::to_string(kDescriptionBytes) +
                                 " bytes in GBK; \"" + value + "\" needs " + std::to_string(gbk.size()));
        } else if (key == "dhcp" || key == "auto-dns") {
            ParseOnOff(value, key);
        } else {
            throw UsageError("there is no field \"" + key +
                             "\"; fields are ip, mask, gateway, dns1, dns2, centre, centre-port, "
                             "description, dhcp and auto-dns");
        }
        c.fields[key] = value;
    }
    return c;
}

int RunConfigure(const Arguments &args) {
    if (args.positional.empty()) throw UsageError("configure wants the device's MAC address and KEY=VALUE fields");
    Mac mac{};
    if (!ParseMac(args.positional[0], mac))
        throw UsageError("\"" + args.positional[0] + "\" is not a MAC address such as 00-1A-2B-3C-4D-5E");
    const Changes changes =
        ParseChanges(std::vector<std::string>(args.positional.begin() + 1, args.positional.end()));

    const std::string macText = FormatMac(mac.data());
    DeviceEntry entry{};
    bool found = false;
    for (const FoundDevice &d : Search()) {
        if (std::memcmp(d.entry.macAddress, mac.data(), mac.size()) != 0) continue;
        entry = d.entry;
        found = true;
        break;
    }
    if (!found) throw Failure("no device with MAC address " + macText + " answered the search");
    changes.ApplyTo(entry);

    // The update opens its own broadcast socket.
    if (UpdateNodeNetworkParameter(&entry) != 1) {
        const std::string reason = NotSentReason("update");
        CloseShell();
        throw Failure(reason);
    }
    LinkFrameRecord reply{};
    const int got = ReadSocketPacket(reply, sizeof reply);
    CloseShell();
    if (got <= 0) throw Failure("the device " + macText + " did not confirm its new configuration");
    if (args.Json()) {
        PrintJson({{"mac", macText}, {"confirmed", true}, {"device", DeviceJson(entry)}});
        return kExitOk;
    }
    std::printf("device %s confirmed its new configuration:\n", macText.c_str());
    PrintTable(kDeviceHeaders, {DeviceRow(entry)});
    return kExitOk;
}

}  // namespace

std::vector<Command> DeviceCommands() {
    return {
        {"discover", "find network-attached host nodes by broadcast", kDiscoverHelp, false, {},
         RunDiscover},
        {"configure", "change the network configuration of a network-attached host node",
         kConfigureHelp, false, {}, RunConfigure},
    };
}

}  // namespace cli
