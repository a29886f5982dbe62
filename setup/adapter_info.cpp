#include "setup/adapter_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace tevrolink {
namespace fs = std::filesystem;
namespace {

std::string ReadText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string FirstLine(const fs::path &path) {
    std::string text = ReadText(path);
    const auto end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    return text;
}

// Lines of `text` split at '\n', a trailing '\r' removed.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

// "KEY=value" lines; the value of the first line with that key, or nullopt.
std::optional<std::string_view> KeyValue(std::string_view text, std::string_view key) {
    for (std::string_view line : Lines(text)) {
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=')
            return line.substr(key.size() + 1);
    }
    return std::nullopt;
}

// Addresses separated by blanks, commas or semicolons; what does not convert is skipped.
std::vector<Ipv4> AddressList(std::string_view text) {
    std::vector<Ipv4> list;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto end = text.find_first_of(" \t,;", i);
        const auto word = text.substr(i, end == std::string_view::npos ? end : end - i);
        if (const auto address = ParseIpv4(word)) list.push_back(*address);
        if (end == std::string_view::npos) break;
        i = end + 1;
    }
    return list;
}

std::optional<bool> AutoDnsFromLease(bool dhcp, const std::vector<Ipv4> &offered,
                                     const std::vector<Ipv4> &inUse) {
    // Without DHCP no server list can have come from a lease.
    if (!dhcp) return false;
    if (offered.empty()) return false;
    if (inUse.empty()) return std::nullopt;
    for (Ipv4 server : offered)
        if (std::find(inUse.begin(), inUse.end(), server) != inUse.end()) return true;
    return false;
}

Ipv4 FromNetworkOrder(const sockaddr *address) {
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

std::string Description(const fs::path &sysNet, const std::string &name) {
    const fs::path device = sysNet / name / "device";
    std::vector<std::string> parts;
    std::error_code error;
    const fs::path driver = fs::read_symlink(device / "driver", error);
    if (!error) parts.push_back(driver.filename().string());
    // USB adapters name their product; PCI ones only give numeric ids.
    std::string product = FirstLine(device / ".." / "product");
    if (product.empty()) product = FirstLine(device / "product");
    if (!product.empty()) parts.push_back(product);
    if (parts.empty()) return name;
    std::string text = name + " (";
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? ", " : "") + parts[i];
    return text + ")";
}

ConfigurationState ConfigurationOf(const fs::path &root, unsigned index,
                                   const std::vector<Ipv4> &dnsInUse) {
    const std::string number = std::to_string(index);
    const fs::path networkManager = root / "run/NetworkManager/devices" / number;
    if (fs::exists(networkManager))
        return NetworkManagerState(ReadText(networkManager), dnsInUse);
    const fs::path networkdLink = root / "run/systemd/netif/links" / number;
    if (fs::exists(networkdLink))
        return NetworkdState(ReadText(networkdLink),
                             ReadText(root / "run/systemd/netif/leases" / number), dnsInUse);
    return {};
}

}  // namespace

std::string Ipv4Text(Ipv4 address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

std::optional<Ipv4> ParseIpv4(std::string_view text) {
    Ipv4 address = 0;
    for (int field = 0; field < 4; ++field) {
        if (field > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        const auto digits = static_cast<std::size_t>(end - text.data());
        if (error != std::errc() || digits == 0 || digits > 3 || value > 255) return std::nullopt;
        address = address << 8 | value;
        text.remove_prefix(digits);
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text) {
    std::array<uint8_t, 6> mac{};
    if (text.size() < 17) return std::nullopt;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const char *first = text.data() + i * 3;
        if (std::from_chars(first, first + 2, mac[i], 16).ptr != first + 2) return std::nullopt;
    }
    return mac;
}

std::string MacText(const std::array<uint8_t, 6> &mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::vector<std::pair<std::string, Ipv4>> ParseRouteGateways(std::string_view procNetRoute) {
    std::vector<std::pair<std::string, Ipv4>> defaults, others;
    auto known = [](const auto &list, std::string_view name) {
        return std::any_of(list.begin(), list.end(),
                           [&](const auto &entry) { return entry.first == name; });
    };
    for (std::string_view line : Lines(procNetRoute)) {
        const auto words = Words(line);
        if (words.size() < 4 || words[0] == "Iface") continue;
        uint32_t destination = 0, gateway = 0;
        unsigned flags = 0;
        auto hex = [](std::string_view word, auto &value) {
            return std::from_chars(word.data(), word.data() + word.size(), value, 16).ec ==
                   std::errc();
        };
        if (!hex(words[1], destination) || !hex(words[2], gateway) || !hex(words[3], flags))
            continue;
        if (!(flags & RTF_UP) || !(flags & RTF_GATEWAY)) continue;
        // The kernel prints the addresses as native-endian numbers of network-order bytes.
        const Ipv4 address = ntohl(gateway);
        auto &list = destination == 0 ? defaults : others;
        if (!known(list, words[0])) list.emplace_back(std::string(words[0]), address);
    }
    for (auto &entry : others)
        if (!known(defaults, entry.first)) defaults.push_back(std::move(entry));
    return defaults;
}

std::vector<Ipv4> ParseNameServers(std::string_view resolvConf) {
    std::vector<Ipv4> servers;
    for (std::string_view line : Lines(resolvConf)) {
        const auto words = Words(line);
        if (words.size() >= 2 && words[0] == "nameserver")
            if (const auto address = ParseIpv4(words[1])) servers.push_back(*address);
    }
    return servers;
}

ConfigurationState NetworkdState(std::string_view linkFile, std::string_view leaseFile,
                                 const std::vector<Ipv4> &dnsInUse) {
    ConfigurationState state;
    const bool leased = KeyValue(leaseFile, "ADDRESS").has_value() ||
                        KeyValue(linkFile, "DHCP4_ADDRESS").has_value();
    if (leased) {
        state.dhcp = true;
    } else if (KeyValue(linkFile, "ADMIN_STATE") == "configured") {
        state.dhcp = false;
    } else {
        return state;  // not managed by networkd, or still being configured
    }
    const auto offered = KeyValue(leaseFile, "DNS");
    state.autoDns = AutoDnsFromLease(*state.dhcp, offered ? AddressList(*offered)
                                                          : std::vector<Ipv4>{},
                                     dnsInUse);
    return state;
}

ConfigurationState NetworkManagerState(std::string_view deviceFile,
                                       const std::vector<Ipv4> &dnsInUse) {
    ConfigurationState state;
    std::string_view section;
    bool managed = false, dhcp = false;
    std::vector<Ipv4> offered;
    for (std::string_view line : Lines(deviceFile)) {
        if (!line.empty() && line.front() == '[') {
            section = line;
            if (section == "[dhcp4]") dhcp = true;
            continue;
        }
        if (section == "[device]" && line == "managed=true") managed = true;
        if (section == "[dhcp4]" && line.starts_with("domain_name_servers="))
            offered = AddressList(line.substr(line.find('=') + 1));
    }
    if (!managed) return state;
    state.dhcp = dhcp;
    state.autoDns = AutoDnsFromLease(dhcp, offered, dnsInUse);
    return state;
}

std::vector<AdapterInfo> ReadAdapters() {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);

    std::map<unsigned, AdapterInfo> byIndex;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (entry->ifa_flags & IFF_LOOPBACK) continue;
        const unsigned index = if_nametoindex(entry->ifa_name);
        if (index == 0) continue;
        AdapterInfo &adapter = byIndex[index];
        adapter.name = entry->ifa_name;
        if (!adapter.address && entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
            adapter.address = FromNetworkOrder(entry->ifa_addr);
            if (entry->ifa_netmask) adapter.mask = FromNetworkOrder(entry->ifa_netmask);
        }
    }

    const fs::path root = "/";
    const fs::path resolved = root / "run/systemd/resolve/resolv.conf";
    const std::vector<Ipv4> dns =
        ParseNameServers(ReadText(fs::exists(resolved) ? resolved : root / "etc/resolv.conf"));
    const auto gateways = ParseRouteGateways(ReadText(root / "proc/net/route"));

    std::vector<AdapterInfo> adapters;
    for (auto &[index, adapter] : byIndex) {
        const fs::path sysNet = root / "sys/class/net";
        adapter.description = Description(sysNet, adapter.name);
        adapter.mac = ParseMac(FirstLine(sysNet / adapter.name / "address"));
        for (const auto &[name, gateway] : gateways)
            if (name == adapter.name) adapter.gateway = gateway;
        const ConfigurationState state = ConfigurationOf(root, index, dns);
        adapter.dhcp = state.dhcp;
        adapter.autoDns = state.autoDns;
        adapter.dnsServers = dns;
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::vector<Ipv4> SortedNonLoopback(std::vector<Ipv4> addresses) {
    std::erase_if(addresses, [](Ipv4 address) { return address >> 24 == 127; });
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

std::vector<Ipv4> LocalIPv4Addresses() {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<Ipv4> addresses;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
            addresses.push_back(FromNetworkOrder(entry->ifa_addr));
    freeifaddrs(list);
    return SortedNonLoopback(std::move(addresses));
}

}  // namespace tevrolink
