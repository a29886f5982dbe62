// The UDP receive path fed datagrams of any size: the shell is opened once on 127.0.0.1
// towards a socket this target owns (the host node's side), and every datagram is sent to
// the shell, from the host node's port or from a stranger's, and polled.
//
// Input: a mode byte (bit 0: hand-shake on; bit 1: seal datagrams that hold a whole frame),
// then datagrams of [flags: bit 0 = from the stranger][size, 16 bits, taken mod 301][bytes].
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/shell.h"
#include "tests/fuzz/frame_sealing.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/received_frame.h"
#include "tevrolink/tevrolink.h"

namespace {

constexpr std::size_t kLargestDatagram = 300;  // beyond the 255 bytes the shell takes
constexpr int kArrivalWaitMs = 100;
constexpr int kPortAttempts = 20;

[[noreturn]] void Fail(const char *what) {
    std::fprintf(stderr, "udp receive fuzzer: %s\n", what);
    std::abort();
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t PortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// A non-blocking UDP socket on 127.0.0.1 at a port the system chooses.
int BoundSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in any = Loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0)
        Fail("cannot bind a socket on 127.0.0.1");
    return fd;
}

struct Sockets {
    int host = -1;      // the host node's side: the shell's peer
    int stranger = -1;  // a sender the shell must ignore
    int shell = -1;
    sockaddr_in shellAddress{};
};

Sockets OpenSockets() {
    Sockets s;
    s.host = BoundSocket();
    s.stranger = BoundSocket();
    const uint16_t hostPort = PortOf(s.host);
    // The shell binds a port of its own choosing; borrow a free one from the system.
    for (int attempt = 0; attempt < kPortAttempts && s.shell < 0; ++attempt) {
        const int probe = BoundSocket();
        const uint16_t port = PortOf(probe);
        ::close(probe);
        if (OpenNETShell("127.0.0.1", "127.0.0.1", port, hostPort)) {
            s.shell = tevrolink::TheShell().port.link->Descriptor();
            s.shellAddress = Loopback(port);
        }
    }
    if (s.shell < 0) Fail("cannot open the UDP shell on 127.0.0.1");
    return s;
}

const Sockets &TheSockets() {
    static const Sockets sockets = OpenSockets();
    return sockets;
}

// Takes away what the shell sent to the host node (sync requests, acknowledgements).
void Drain(int fd) {
    uint8_t sink[512];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) >= 0) {}
}

void ResetLink(const Sockets &s, bool handShake) {
    Drain(s.shell);
    Drain(s.host);
    tevrolink::Shell &shell = tevrolink::TheShell();
    shell.port.ResetReceive();
    shell.txSeq = 255;
    shell.rxSeq = 255;
    SetHostHandShake(handShake ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const Sockets &s = TheSockets();
    fuzz::FuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    ResetLink(s, mode & 1);
    std::vector<uint8_t> datagram;
    while (!in.Empty()) {
        const bool fromStranger = in.Byte() & 1;
        datagram.resize(in.Word() % (kLargestDatagram + 1));
        in.Fill(datagram.data(), datagram.size());
        if (mode & 2) fuzz::SealWholeFrame(datagram.data(), datagram.size());
        const int sender = fromStranger ? s.stranger : s.host;
        ::sendto(sender, datagram.data(), datagram.size(), 0,
                 reinterpret_cast<const sockaddr *>(&s.shellAddress), sizeof s.shellAddress);
        struct pollfd p {s.shell, POLLIN, 0};
        poll(&p, 1, kArrivalWaitMs);
        if (IsShellReadable(nullptr, nullptr)) fuzz::ReadReportedFrame();
        Drain(s.host);
    }
    return 0;
}
