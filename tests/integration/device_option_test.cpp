// hostsim's --device option: one device described in one argument.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "sim/device_option.h"

namespace {

using hostsim::ParseDeviceOption;

TEST(DeviceOption, EveryFieldAndBehaviourIsTaken) {
    const hostsim::NetworkDevice d = ParseDeviceOption(
        "192.168.1.20/255.255.0.0,gw=192.168.1.1,mac=00:1a:2B-3c-4d-5e,dns=8.8.8.8+8.8.4.4,"
        "centre=192.168.1.5:10086,desc=仓库,dhcp,auto-dns,twice,short=30,unconfirmed,silent",
        3);
    const DeviceEntry expected = hostsim::MakeDeviceEntry(
        {.address = "192.168.1.20",
         .mask = "255.255.0.0",
         .gateway = "192.168.1.1",
         .primaryDns = "8.8.8.8",
         .secondaryDns = "8.8.4.4",
         .centre = "192.168.1.5",
         .centrePort = 10086,
         .mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E},
         .description = "\xB2\xD6\xBF\xE2",  // GBK, as devices hold it
         .autoAddress = true,
         .autoDns = true});
    EXPECT_EQ(std::memcmp(&d.entry, &expected, sizeof expected), 0);
    EXPECT_EQ(d.behaviour.answersPerSearch, 2u);
    EXPECT_EQ(d.behaviour.answerLength, 30);
    EXPECT_FALSE(d.behaviour.confirmUpdates);
    EXPECT_TRUE(d.behaviour.silent);
}

TEST(DeviceOption, AnAddressAloneGetsANumberedDevice) {
    const hostsim::NetworkDevice d = ParseDeviceOption("10.0.0.9", 12);
    const DeviceEntry expected = hostsim::MakeDeviceEntry(
        {.address = "10.0.0.9", .mask = "255.255.255.0", .mac = {0x02, 0, 0, 0, 0, 12},
         .description = "Device 12"});
    EXPECT_EQ(std::memcmp(&d.entry, &expected, sizeof expected), 0);
    EXPECT_EQ(d.behaviour.answersPerSearch, 1u);
    EXPECT_EQ(d.behaviour.answerLength, 66);
    EXPECT_TRUE(d.behaviour.confirmUpdates);
    EXPECT_FALSE(d.behaviour.silent);
}

TEST(DeviceOption, BadPartsAreRefusedByName) {
    const struct {
        const char *text;
        const char *named;
    } cases[] = {
        {"", "needs an address"},
        {"192.168.1.300", "192.168.1.300"},
        {"10.0.0.9/255.255.255.0,gw=10.0.0", "10.0.0"},
        {"10.0.0.9,mac=00-1A-2B-3C-4D", "mac"},
        {"10.0.0.9,mac=00-1A-2B-3C-4D-5E-6F", "mac"},
        {"10.0.0.9,centre=10.0.0.1:65536", "65536"},
        {"10.0.0.9,centre=10.0.0.1", "port"},
        {"10.0.0.9,short=66", "66"},
        {"10.0.0.9,twice=3", "twice=3"},
        {"10.0.0.9,colour=red", "colour=red"},
        {"10.0.0.9,desc=abcdefghijklmnopqrstuvwxyz1234567", "32 bytes"},
    };
    for (const auto &c : cases) {
        try {
            ParseDeviceOption(c.text, 1);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::invalid_argument &e) {
            EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos)
                << c.text << " -> " << e.what();
        }
    }
}

}  // namespace
