// Over UDP the shell takes frames only from the host node's address and port, and keeps a
// burst that arrives while nobody polls.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/shell.h"
#include "tests/integration/sim_harness.h"

using namespace simtest;
using namespace tevrolink;

namespace {

// A socket of someone else on the loopback network.
class Stranger {
public:
    Stranger(const char *address, uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address, &a.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~Stranger() { ::close(fd_); }
    bool Bound() const { return bound_; }
    void SendTo(uint16_t port, const Bytes &frame) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

TEST(UdpPeer, FramesFromAnotherPortOrAddressAreDropped) {
    const uint16_t pcPort = FreeUdpPort();
    auto sim = HostSim::StartUdp("127.0.0.1", 0);
    sim->SetUdpPeer("127.0.0.1", pcPort);
    ASSERT_EQ(OpenNETShell("127.0.0.1", "127.0.0.1", pcPort, sim->Port()), 1);
    SetHostHandShake(0);

    // Same address, other port; and the host's port on another loopback address.
    Stranger otherPort("127.0.0.1", 0);
    Stranger otherAddress("127.0.0.2", sim->Port());
    ASSERT_TRUE(otherPort.Bound());
    ASSERT_TRUE(otherAddress.Bound()) << "127.0.0.2 should be a loopback address";

    const uint8_t fromStranger[] = {0xEE};
    const uint8_t fromHost[] = {0x11};
    const Bytes forged = hostsim::BuildFrame(kCodeData, 1, 3, 0x10, fromStranger);
    otherPort.SendTo(pcPort, forged);
    otherAddress.SendTo(pcPort, forged);
    sim->SendFrame(kCodeData, 2, 3, 0x10, fromHost);

    std::vector<FrameRecord> frames;
    PumpUntil([&] { return !frames.empty(); }, kWait,
              [&](const FrameRecord &f) { frames.push_back(f); });
    ASSERT_EQ(frames.size(), 1u) << "only the host's frame is reported";
    EXPECT_EQ(frames[0][kPayload], 0x11);
    EXPECT_EQ(frames[0][kSeq], 2);
    CloseShell();
}

TEST(UdpPeer, ABurstWhileNobodyPollsIsKept) {
    const uint16_t pcPort = FreeUdpPort();
    auto sim = HostSim::StartUdp("127.0.0.1", 0);
    sim->SetUdpPeer("127.0.0.1", pcPort);
    ASSERT_EQ(OpenNETShell("127.0.0.1", "127.0.0.1", pcPort, sim->Port()), 1);
    SetHostHandShake(0);

    // A tenth of a second of data packets at a thousand a second, while the PC is busy.
    constexpr int kBurst = 100;
    const uint8_t payload[64] = {};
    for (int n = 0; n < kBurst; ++n) sim->SendFrame(kCodeData, static_cast<uint8_t>(n), 3, 0x10, payload);

    std::vector<uint8_t> seqs;
    PumpUntil([&] { return seqs.size() == kBurst; }, kWait,
              [&](const FrameRecord &f) { seqs.push_back(f[kSeq]); });
    ASSERT_EQ(seqs.size(), static_cast<std::size_t>(kBurst));
    for (int n = 0; n < kBurst; ++n) EXPECT_EQ(seqs[n], n);
    CloseShell();
}

}  // namespace
