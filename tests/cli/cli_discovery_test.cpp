// discover and configure. Broadcasts run only inside a network namespace this test makes
// (loopback up, a route for 255.255.255.255 on it); the network-attached devices are a
// small responder here, answering on UDP port 12580 as the devices do.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "link/frame.h"
#include "tests/cli/cli_fixture.h"
#include "tevrolink/tevrolink.h"

namespace clitest {
namespace {

// Moves the calling thread into a new network namespace and back out again. Children
// forked by this thread, and threads it starts, share the namespace.
class PrivateNetwork {
public:
    PrivateNetwork() {
        original_ = open("/proc/self/task/" + std::to_string(gettid()) + "/ns/net");
        if (original_ < 0) {
            why_ = "cannot open the present network namespace";
            return;
        }
        if (unshare(CLONE_NEWNET) != 0) {
            why_ = std::string("cannot make a network namespace: ") + std::strerror(errno);
            return;
        }
        entered_ = true;
        if (std::system("ip link set lo up && ip route add 255.255.255.255/32 dev lo src 127.0.0.1") != 0)
            why_ = "cannot bring up loopback with a broadcast route in the namespace";
    }
    ~PrivateNetwork() {
        if (entered_) setns(original_, CLONE_NEWNET);
        if (original_ >= 0) close(original_);
    }
    bool Ready() const { return why_.empty(); }
    const std::string &Why() const { return why_; }

private:
    static int open(const std::string &path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }
    int original_ = -1;
    bool entered_ = false;
    std::string why_;
};

DeviceEntry Device(uint8_t last, const char *gbkDescription) {
    DeviceEntry d{};
    const uint8_t ip[4] = {192, 168, 1, last}, mask[4] = {255, 255, 255, 0}, gw[4] = {192, 168, 1, 1};
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, last};
    const uint8_t dns[4] = {8, 8, 8, 8}, centre[4] = {192, 168, 1, 100};
    std::memcpy(d.ipAddress, ip, 4);
    std::memcpy(d.subnetMask, mask, 4);
    std::memcpy(d.gateway, gw, 4);
    std::memcpy(d.macAddress, mac, 6);
    std::memcpy(d.primaryDns, dns, 4);
    std::memcpy(d.centreAddress, centre, 4);
    d.centrePort[0] = 10086 >> 8;
    d.centrePort[1] = 10086 & 0xFF;
    std::strncpy(d.description, gbkDescription, sizeof d.description - 1);
    d.autoDns = 1;
    return d;
}

// Devices on UDP port 12580: a search is answered by each with its entry, an update for
// one's MAC address is taken and (unless told not to) confirmed.
class Devices {
public:
    explicit Devices(std::vector<DeviceEntry> devices) : devices_(std::move(devices)) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(DEVICE_PORT);
        bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        thread_ = std::thread([this] { Serve(); });
    }
    ~Devices() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    bool Bound() const { return bound_; }
    void ConfirmUpdates(bool confirm) { confirm_ = confirm; }
    std::vector<std::vector<uint8_t>> Datagrams() {
        std::lock_guard lock(mutex_);
        return datagrams_;
    }
    std::vector<DeviceEntry> Entries() {
        std::lock_guard lock(mutex_);
        return devices_;
    }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t in[512];
            sockaddr_in from{};
            socklen_t n = sizeof from;
            const ssize_t got = recvfrom(fd_, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &n);
            if (got < 8) continue;
            std::lock_guard lock(mutex_);
            datagrams_.emplace_back(in, in + got);
            if (in[1] == 0x37) {
                for (const DeviceEntry &d : devices_) Answer(d, from);
            } else if (in[1] == 0x36 && got >= 74) {
                DeviceEntry update{};
                std::memcpy(&update, in + 8, sizeof update);
                for (DeviceEntry &d : devices_) {
                    if (std::memcmp(d.macAddress, update.macAddress, 6) != 0) continue;
                    d = update;
                    if (confirm_) Answer(d, from);
                }
            }
        }
    }
    void Answer(const DeviceEntry &d, const sockaddr_in &to) {
        uint8_t frame[tevrolink::kFrameSize] = {};
        frame[1] = 0xB7;
        frame[5] = sizeof d;
        std::memcpy(frame + 8, &d, sizeof d);
        tevrolink::SealLinkFrame(frame);
        sendto(fd_, frame, 8 + sizeof d, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }

    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> confirm_{true};
    std::mutex mutex_;
    std::vector<DeviceEntry> devices_;
    std::vector<std::vector<uint8_t>> datagrams_;
    std::thread thread_;
};

// "仓库 1" and "新" in GBK.
const char kStoreGbk[] = "\xB2\xD6\xBF\xE2 1";
const char kNewGbk[] = "\xD0\xC2";

class CliDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        if (!network_.Ready()) GTEST_SKIP() << network_.Why() << "; discovery is not tested";
        devices_ = std::make_unique<Devices>(std::vector<DeviceEntry>{Device(0x5E, kStoreGbk), Device(0x5F, "")});
        ASSERT_TRUE(devices_->Bound());
    }
    void TearDown() override { devices_.reset(); }

    PrivateNetwork network_;
    std::unique_ptr<Devices> devices_;
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
    const auto datagrams = devices_->Datagrams();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0], (std::vector<uint8_t>{0xAA, 0x37, 0, 0, 0, 0, 0xCF, 0x8C}));

    const Result table = RunProgram({"discover"});
    ASSERT_EQ(table.status, 0) << table.err;
    ASSERT_EQ(Lines(table.out).size(), 3u) << table.out;
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

    devices_->ConfirmUpdates(false);
    const Result silent = RunProgram({"configure", "00-1A-2B-3C-4D-5E", "mask=255.255.0.0"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("did not confirm"), std::string::npos) << silent.err;
}

TEST_F(CliDiscovery, BadFieldIsRefusedBeforeTheSearch) {
    const Result r = RunProgram({"configure", "00-1A-2B-3C-4D-5E", "gateway=10.0.0.256"});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(RunProgram({"discover"}).status, 0);
    const auto datagrams = devices_->Datagrams();
    ASSERT_EQ(datagrams.size(), 1u) << "only the later search was sent";
}

}  // namespace
}  // namespace clitest
