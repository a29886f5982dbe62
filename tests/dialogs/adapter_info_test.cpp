// Reading the PC's adapters: the parsers of the system's files, and the live reading in
// the test's private network.
#include <gtest/gtest.h>

#include "setup/adapter_info.h"
#include "tests/support/private_network.h"

namespace dialogtest {
namespace {

using namespace tevrolink;

TEST(AdapterInfo, RouteTableGivesEachInterfacesGatewayDefaultFirst) {
    const char table[] =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth1\t0000A8C0\t0200000A\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth2\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    const auto gateways = ParseRouteGateways(table);
    ASSERT_EQ(gateways.size(), 2u) << "a route that is down counts for nothing";
    EXPECT_EQ(gateways[0].first, "eth0");
    EXPECT_EQ(Ipv4Text(gateways[0].second), "192.0.2.1");
    EXPECT_EQ(gateways[1].first, "eth1");
    EXPECT_EQ(Ipv4Text(gateways[1].second), "10.0.0.2");
}

TEST(AdapterInfo, NameServersAreTheIpv4EntriesInOrder) {
    const auto servers = ParseNameServers(
        "# generated\nsearch example.org\nnameserver 192.168.1.1\n"
        "nameserver fe80::1%eth0\n  nameserver\t9.9.9.9 \n;nameserver 1.1.1.1\n");
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(Ipv4Text(servers[0]), "192.168.1.1");
    EXPECT_EQ(Ipv4Text(servers[1]), "9.9.9.9");
}

TEST(AdapterInfo, NetworkdStateTellsDhcpAndWhereDnsCameFrom) {
    const std::vector<Ipv4> inUse = {*ParseIpv4("192.168.1.1")};
    const auto leased = NetworkdState("ADMIN_STATE=configured\n",
                                      "ADDRESS=192.168.1.5\nDNS=192.168.1.1 8.8.8.8\n", inUse);
    EXPECT_EQ(leased.dhcp, true);
    EXPECT_EQ(leased.autoDns, true);
    const auto ignoredDns =
        NetworkdState("ADMIN_STATE=configured\n", "ADDRESS=192.168.1.5\nDNS=10.0.0.53\n", inUse);
    EXPECT_EQ(ignoredDns.autoDns, false);
    const auto fixed = NetworkdState("ADMIN_STATE=configured\nOPER_STATE=routable\n", "", inUse);
    EXPECT_EQ(fixed.dhcp, false);
    EXPECT_EQ(fixed.autoDns, false);
    const auto unmanaged = NetworkdState("ADMIN_STATE=unmanaged\n", "", inUse);
    EXPECT_FALSE(unmanaged.dhcp.has_value());
    EXPECT_FALSE(unmanaged.autoDns.has_value());
}

TEST(AdapterInfo, NetworkManagerStateTellsDhcpOnlyForManagedDevices) {
    const std::vector<Ipv4> inUse = {*ParseIpv4("10.0.0.1")};
    const auto dhcp = NetworkManagerState(
        "[device]\nmanaged=true\n\n[dhcp4]\nip_address=10.0.0.7\n"
        "domain_name_servers=10.0.0.1\n",
        inUse);
    EXPECT_EQ(dhcp.dhcp, true);
    EXPECT_EQ(dhcp.autoDns, true);
    const auto manual = NetworkManagerState("[device]\nmanaged=true\n", inUse);
    EXPECT_EQ(manual.dhcp, false);
    const auto unmanaged = NetworkManagerState("[device]\nmanaged=false\n", inUse);
    EXPECT_FALSE(unmanaged.dhcp.has_value());
}

TEST(AdapterInfo, PrivateNetworkHasOnlyLoopbackWhichIsNeverListed) {
    if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_TRUE(ReadAdapters().empty());
    EXPECT_TRUE(LocalIPv4Addresses().empty());
}

}  // namespace
}  // namespace dialogtest
