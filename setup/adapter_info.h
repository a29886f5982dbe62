// The PC's network adapters and IPv4 addresses as the network set-up dialog shows them,
// read from the running system without changing anything. What Linux does not tell (how an
// adapter got its address, where its DNS servers came from) stays unknown.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tevrolink {

// IPv4 addresses are held in host byte order: 192.168.1.5 is 0xC0A80105.
using Ipv4 = uint32_t;

std::string Ipv4Text(Ipv4 address);
// Dotted-quad text (exactly four decimal fields of 0-255); nullopt for anything else.
std::optional<Ipv4> ParseIpv4(std::string_view text);

struct AdapterInfo {
    std::string name;                          // interface name, e.g. "eth0"
    std::string description;                   // name plus driver and model where known
    std::optional<std::array<uint8_t, 6>> mac;
    std::optional<Ipv4> address;               // first IPv4 address
    std::optional<Ipv4> mask;                  // its mask
    std::optional<Ipv4> gateway;               // first gateway through this adapter
    std::optional<bool> dhcp;                  // address obtained by DHCP
    std::optional<bool> autoDns;               // DNS servers obtained automatically
    std::vector<Ipv4> dnsServers;
};

// "00-1A-2B-3C-4D-5E".
std::string MacText(const std::array<uint8_t, 6> &mac);
// Six two-digit hexadecimal numbers at characters 0, 3, ... 15, whatever separates them
// ("00-1A-..." as shown, "00:1a:..." as sysfs writes it).
std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text);

// The adapters (every interface but loopback) in interface-index order.
std::vector<AdapterInfo> ReadAdapters();
// The machine's IPv4 addresses, ascending, leaving out 127.0.0.0/8.
std::vector<Ipv4> LocalIPv4Addresses();
// The same filter and order for a given set of addresses.
std::vector<Ipv4> SortedNonLoopback(std::vector<Ipv4> addresses);

// ---- the parsers behind ReadAdapters ------------------------------------------------

// /proc/net/route: the gateway of each interface's default route, or else of its first
// route through a gateway, in the order the interfaces first appear.
std::vector<std::pair<std::string, Ipv4>> ParseRouteGateways(std::string_view procNetRoute);
// resolv.conf: the IPv4 "nameserver" entries in order.
std::vector<Ipv4> ParseNameServers(std::string_view resolvConf);

// How an interface was configured, as its network manager's run-time state tells.
struct ConfigurationState {
    std::optional<bool> dhcp;
    std::optional<bool> autoDns;
};
// systemd-networkd: the link state file and the DHCP lease file of one interface (either
// text empty when the file does not exist).
ConfigurationState NetworkdState(std::string_view linkFile, std::string_view leaseFile,
                                 const std::vector<Ipv4> &dnsInUse);
// NetworkManager: the device state file of one interface.
ConfigurationState NetworkManagerState(std::string_view deviceFile,
                                       const std::vector<Ipv4> &dnsInUse);

}  // namespace tevrolink
