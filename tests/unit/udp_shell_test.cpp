// Opening and closing the shell over UDP, and which datagrams it accepts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "link/frame.h"
#include "tests/support/test_frames.h"
#include "link/shell.h"
#include "tevrolink/tevrolink.h"

using namespace tevrolink;
using testing_frames::WireFrame;

namespace {

class Socket {
public:
    explicit Socket(const char *address, uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr(address);
        a.sin_port = htons(port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~Socket() { ::close(fd_); }
    bool Bound() const { return bound_; }
    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &n);
        return ntohs(a.sin_port);
    }
    void SendTo(uint16_t port, const std::vector<uint8_t> &bytes) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        a.sin_port = htons(port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    std::vector<uint8_t> Receive(int timeoutMs = 1000) {
        struct pollfd p {fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return {};
        uint8_t buf[512];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::vector<uint8_t>(buf, buf + n) : std::vector<uint8_t>{};
    }

private:
    int fd_;
    bool bound_;
};

uint16_t FreePort() {
    Socket s("127.0.0.1");
    return s.Port();
}

// Polls until a frame is reported or the socket has been quiet for a while.
int PollUntilQuiet() {
    for (int i = 0; i < 50; ++i) {
        if (::IsShellReadable(nullptr, nullptr)) return 1;
        struct pollfd p {TheShell().port.link->Descriptor(), POLLIN, 0};
        if (poll(&p, 1, 20) == 0) return 0;
    }
    return 0;
}

TEST(UdpShell, OpenRefusesWhatCannotWork) {
    EXPECT_EQ(::OpenNETShell(nullptr, nullptr, 10086, 12580), 0);
    EXPECT_EQ(::OpenNETShell(nullptr, "0.0.0.0", 10086, 12580), 0);
    EXPECT_EQ(::OpenNETShell(nullptr, "127.0.0.1", 0, 12580), 0) << "unicast needs a local port";
    EXPECT_EQ(::IsShellActive(), 0);

    // A port that is taken cannot be bound.
    Socket taken("127.0.0.1");
    EXPECT_EQ(::OpenNETShell("127.0.0.1", "127.0.0.1", taken.Port(), 12580), 0);
    EXPECT_EQ(::IsShellActive(), 0);
}

TEST(UdpShell, BroadcastModeNeedsNoBindAndUnconvertibleTextSelectsIt) {
    // Opening sends nothing; no datagram leaves this test.
    EXPECT_EQ(::OpenNETShell(nullptr, "255.255.255.255", 0, 12580), 1);
    EXPECT_EQ(::IsShellActive(), 1);
    EXPECT_EQ(TheShell().port.peerAddress.sin_addr.s_addr, INADDR_NONE);
    EXPECT_EQ(::OpenNETShell(nullptr, "not an address", 0, 12580), 1);
    EXPECT_EQ(TheShell().port.linkKind, kLinkUdp);
    EXPECT_EQ(::CloseShell(), 0);
    EXPECT_EQ(::IsShellActive(), 0);
    EXPECT_EQ(::CloseShell(), 0) << "closing a closed shell is harmless";
}

TEST(UdpShell, OnlyTheHostNodesAddressAndPortAreHeard) {
    Socket host("127.0.0.1");
    Socket stranger("127.0.0.1");
    Socket otherAddress("127.0.0.2");
    const uint16_t local = FreePort();
    ASSERT_EQ(::OpenNETShell("127.0.0.1", "127.0.0.1", local, host.Port()), 1);
    ::SetHostHandShake(0);

    stranger.SendTo(local, WireFrame(0x95, {1, 1}));
    EXPECT_EQ(PollUntilQuiet(), 0);
    if (otherAddress.Bound()) {
        otherAddress.SendTo(local, WireFrame(0x95, {1, 1}));
        EXPECT_EQ(PollUntilQuiet(), 0);
    }
    auto corrupt = WireFrame(0x95, {1, 1});
    corrupt[kPayload + 1] ^= 1;
    host.SendTo(local, corrupt);
    EXPECT_EQ(PollUntilQuiet(), 0);
    host.SendTo(local, {});  // an empty datagram must not block the queue
    const auto good = WireFrame(0x95, {2, 1});
    host.SendTo(local, good);
    ASSERT_EQ(PollUntilQuiet(), 1);
    uint8_t rec[kFrameSize];
    ::CopyShell(rec);
    EXPECT_EQ(std::vector<uint8_t>(rec, rec + good.size()), good);

    // A frame the PC writes reaches the host node as one datagram.
    uint8_t query[kFrameSize] = {};
    query[kCode] = 0x1C;
    WriteFrame(TheShell().port, query);
    EXPECT_EQ(host.Receive(), WireFrame(0x1C));
    ::CloseShell();
}

TEST(ShellState, HandShakeSettingDecidesWhetherTheLinkMustSynchronise) {
    ::SetHostHandShake(0x101);  // only the low byte counts
    EXPECT_EQ(TheShell().handShake, 1);
    EXPECT_EQ(TheShell().linkState, kLinkUnsynced);
    ::SetHostHandShake(0x100);
    EXPECT_EQ(TheShell().handShake, 0);
    EXPECT_EQ(TheShell().linkState, kLinkReady);
}

TEST(ShellState, PollOnAClosedShellStillReportsTheLinkState) {
    ::CloseShell();
    ::SetHostHandShake(1);
    uint8_t state = 0xEE;
    uint16_t credit = 0xBEEF;
    EXPECT_EQ(::IsShellReadable(&state, &credit), 0);
    EXPECT_EQ(state, kLinkUnsynced);
    EXPECT_EQ(credit, 0xBEEF);
    ::SetHostHandShake(0);
}

}  // namespace
