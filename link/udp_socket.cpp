#include "link/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/capture.h"
#include "link/frame.h"
#include "link/shell.h"
#include "link/shell_wait.h"

namespace tevrolink {
namespace {

constexpr int kSendBufferSize = 8192;
// Linux charges every datagram its whole kernel buffer (about a kilobyte for a small frame)
// against the receive buffer's size, so 8192 bytes would hold about a dozen frames, and a
// burst of data packets from the host node would be lost while the caller is between
// polls. This much holds a few hundred.
constexpr int kReceiveSocketBufferSize = 256 * 1024;
constexpr std::size_t kDatagramLimit = 255;

class UdpLink final : public Transport {
public:
    // The peer is read at every send: discovery may point the open shell at another device.
    UdpLink(int fd, const sockaddr_in &peer) : fd_(fd), peer_(peer) {}
    ~UdpLink() override { ::close(fd_); }

    int Descriptor() const override { return fd_; }

    void SendFrame(const uint8_t *frame, std::size_t size) override {
        CaptureUdpFrame(fd_, peer_, false, frame, size);
        ::sendto(fd_, frame, size, 0, reinterpret_cast<const sockaddr *>(&peer_), sizeof peer_);
    }

    bool PollFrame(ShellPort &port) override {
        port.ResetReceive();
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        // Receiving directly (instead of first asking for the size of the next datagram)
        // also takes an empty datagram off the queue, which would otherwise block it.
        const ssize_t n = ::recvfrom(fd_, port.rxBuffer, kDatagramLimit, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0) return false;
        CaptureUdpFrame(fd_, from, true, port.rxBuffer, static_cast<std::size_t>(n));
        const bool fromPeer = from.sin_family == AF_INET &&
                              from.sin_addr.s_addr == port.peerAddress.sin_addr.s_addr &&
                              from.sin_port == port.peerAddress.sin_port;
        if (fromPeer && CheckLinkFrame(port.rxBuffer)) {
            port.rxState = kRxComplete;
            return true;
        }
        port.ResetReceive();
        return false;
    }

    void WaitForInput(const ShellPort &, int timeoutMs) override {
        if (timeoutMs <= 0) return;
        struct pollfd pfd {fd_, POLLIN, 0};
        poll(&pfd, 1, timeoutMs);
    }

    long InputDelayUs(const ShellPort &) override { return -1; }  // datagrams come whole

private:
    int fd_;
    const sockaddr_in &peer_;
};

}  // namespace

int OpenUdpSocket(const char *localAddress, const char *remoteAddress, uint16_t localPort,
                  uint16_t remotePort) {
    if (!remoteAddress) return 0;
    const in_addr_t remote = inet_addr(remoteAddress);
    if (remote == 0) return 0;
    const bool broadcast = remote == INADDR_NONE;

    Shell &shell = TheShell();
    WaitUntilLinkUnwatched();
    shell.port.link.reset();

    sockaddr_in &peer = shell.port.peerAddress;
    peer = sockaddr_in{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = remote;
    peer.sin_port = htons(remotePort);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    const int receiveSize = kReceiveSocketBufferSize, sendSize = kSendBufferSize;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveSize, sizeof receiveSize);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendSize, sizeof sendSize);

    shell.port.broadcastSource = htonl(INADDR_ANY);
    shell.port.arrivalAdapter = 0;
    if (broadcast) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        // Tells ReadSocketPacket which adapter each answer came in on.
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        const in_addr_t source = localAddress ? inet_addr(localAddress) : INADDR_NONE;
        if (source != INADDR_NONE) shell.port.broadcastSource = source;
    } else {
        if (localPort == 0) {
            ::close(fd);
            return 0;
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(localPort);
        const in_addr_t localAddr = localAddress ? inet_addr(localAddress) : INADDR_NONE;
        local.sin_addr.s_addr = localAddr == INADDR_NONE ? htonl(INADDR_ANY) : localAddr;
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return 0;
        }
    }
    shell.port.link = std::make_unique<UdpLink>(fd, peer);
    WakeShellWaiters();  // a waiter watches the descriptor of the link it saw
    return 1;
}

}  // namespace tevrolink
