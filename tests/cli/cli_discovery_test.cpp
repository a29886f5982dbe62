// discover and configure. Broadcasts run only inside a private network namespace that the
// test process enters; the network-attached devices are hostsim's, answering on UDP port
// 12580 on a segment behind the adapter pc0 (static address, no default route).
#include <cstring>

#include "sim/device_emulator.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/private_network.h"
#include "tevrolink/tevrolink.h"

namespace clitest {
namespace {

DeviceEntry Device(uint8_t last, const char *gbkDescription) {
    return hostsim::MakeDeviceEntry({.address = "192.168.1." + std::to_string(last),
                                     .mask = "255.255.255.0",
                                     .gateway = "192.168.1.1",
                                     .primaryDns = "8.8.8.8",
                                     .centre = "192.168.1.100",
                                     .centrePort = 10086,
                                     .mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, last},
                                     .description = gbkDescription,
                                     .autoDns = true});
}

// "仓库 1" and "新" in GBK.
const char kStoreGbk[] = "\xB2\xD6\xBF\xE2 1";
const char kNewGbk[] = "\xD0\xC2";

class CliDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << why << "; discovery is not tested";
        segment_ = std::make_unique<testsupport::DeviceSegment>("pc0", 1);
        if (!segment_->Failure().empty()) GTEST_SKIP() << segment_->Failure();
        devices_ = segment_->MakeInside<hostsim::DeviceEmulator>(
            std::vector<hostsim::NetworkDevice>{{Device(0x5E, kStoreGbk), {}}, {Device(0x5F, ""), {}}},
            "0.0.0.0", DEVICE_PORT, segment_->Subnet());
    }

    std::unique_ptr<testsupport::DeviceSegment> segment_;
    std::unique_ptr<hostsim::DeviceEmulator> devices_;
};

TEST_F(CliDiscovery, DiscoverListsEveryAnsweringDevice) {
    const Result r = RunProgram({"discover", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Json> doc = ParseJson(r.out);
    ASSERT_TRUE(doc) << r.out;
    const Json &list = (*doc)["devices"];
    ASSERT_EQ(list.Size(), 2u);
    const Json &first = list[0]["mac"].Str() == "00-1A-2B-3C-4D-5E" ? list[0] : list[1];
    EXPECT_EQ(first["mac"].Str(), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(first["adapter"].Str(), "pc0");
    EXPECT_EQ(first["address"].Str(), "192.168.1.94");
    EXPECT_EQ(first["mask"].Str(), "255.255.255.0");
    EXPECT_EQ(first["gateway"].Str(), "192.168.1.1");
    EXPECT_EQ(first["dns1"].Str(), "8.8.8.8");
    EXPECT_EQ(first["centre"].Str(), "192.168.1.100");
    EXPECT_EQ(first["centre_port"].Int(), 10086);
    EXPECT_EQ(first["description"].Str(), "仓库 1");
    EXPECT_FALSE(first["dhcp"].Bool());
    EXPECT_TRUE(first["auto_dns"].Bool());
    // The request on the wire is the 8-byte search frame.
    const auto datagrams = devices_->Received();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0].bytes, (std::vector<uint8_t>{0xAA, 0x37, 0, 0, 0, 0, 0xCF, 0x8C}));

    const Result table = RunProgram({"discover"});
    ASSERT_EQ(table.status, 0) << table.err;
    ASSERT_EQ(Lines(table.out).size(), 3u) << table.out;
    EXPECT_EQ(Lines(table.out)[0].rfind("ADAPTER", 0), 0u) << table.out;
    EXPECT_EQ(Lines(table.out)[1].rfind("pc0 ", 0), 0u) << table.out;
    EXPECT_NE(table.out.find("192.168.1.100:10086"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("仓库 1"), std::string::npos) << table.out;
}

TEST_F(CliDiscovery, ConfigureChangesOnlyTheNamedDeviceAndFieldsGiven) {
    const Result r = RunProgram({"configure", "00-1a-2b-3c-4d-5f", "ip=10.0.0.9", "centre-port=9000",
                          "description=新", "dhcp=on", "auto-dns=off", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Json> doc = ParseJson(r.out);
    ASSERT_TRUE(doc) << r.out;
    EXPECT_TRUE((*doc)["confirmed"].Bool());
    EXPECT_EQ((*doc)["device"]["address"].Str(), "10.0.0.9");

    const auto entries = devices_->Entries();
    const DeviceEntry &changed = entries[1];
    const DeviceEntry expected = [] {
        DeviceEntry d = Device(0x5F, kNewGbk);
        d.ipAddress[0] = 10, d.ipAddress[1] = 0, d.ipAddress[2] = 0, d.ipAddress[3] = 9;
        d.centrePort[0] = 9000 >> 8;
        d.centrePort[1] = 9000 & 0xFF;
        d.autoAddress = 1;
        d.autoDns = 0;
        return d;
    }();
    EXPECT_EQ(std::memcmp(&changed, &expected, sizeof expected), 0) << "every other field kept";
    const DeviceEntry untouched = Device(0x5E, kStoreGbk);
    EXPECT_EQ(std::memcmp(&entries[0], &untouched, sizeof untouched), 0);
}

TEST_F(CliDiscovery, ConfigureFailsForAnUnknownOrSilentDevice) {
    const Result unknown = RunProgram({"configure", "00-1A-2B-3C-4D-60", "ip=10.0.0.9"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("no device with MAC address 00-1A-2B-3C-4D-60"), std::string::npos) << unknown.err;

    devices_->SetBehaviour(0, {.confirmUpdates = false});
    const Result silent = RunProgram({"configure", "00-1A-2B-3C-4D-5E", "mask=255.255.0.0"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("did not confirm"), std::string::npos) << silent.err;
}

TEST_F(CliDiscovery, SearchThatLeavesOnNoAdapterSaysWhyAndFails) {
    const std::pair<const char *, const char *> cases[] = {
        {"address flush dev pc0", "no network adapter that is up has an IPv4 address"},
        {"link set pc0 down", "no network adapter is up that can broadcast"},
    };
    for (const auto &[pcSide, reason] : cases) {
        ASSERT_TRUE(segment_->PcSide(pcSide)) << segment_->Failure();
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"discover"}, {"configure", "00-1A-2B-3C-4D-5E", "ip=10.0.0.9"}}) {
            const Result r = RunProgram(args);
            EXPECT_EQ(r.status, 1) << pcSide << ": " << args[0];
            EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        }
    }
    EXPECT_TRUE(devices_->Received().empty());
}

TEST_F(CliDiscovery, BadFieldIsRefusedBeforeTheSearch) {
    const Result r = RunProgram({"configure", "00-1A-2B-3C-4D-5E", "gateway=10.0.0.256"});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(RunProgram({"discover"}).status, 0);
    ASSERT_EQ(devices_->Received().size(), 1u) << "only the later search was sent";
}

}  // namespace
}  // namespace clitest
