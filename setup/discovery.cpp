#include "setup/discovery.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "link/frame.h"
#include "link/shell.h"
#include "link/udp_socket.h"

namespace tevrolink {
namespace {

constexpr uint8_t kCodeDeviceUpdate = 0x36;
constexpr uint8_t kCodeDeviceSearch = 0x37;
constexpr uint8_t kCodeDeviceAnswer = 0xB7;
constexpr int kReadChecks = 20;
constexpr int kReadCheckMs = 10;

void SendDeviceFrame(uint8_t code, const void *payload, uint8_t size) {
    uint8_t frame[kFrameSize] = {};
    frame[kCode] = code;
    frame[kLength] = size;
    if (size) std::memcpy(frame + kPayload, payload, size);
    WriteFrame(TheShell().port, frame);
}

}  // namespace

int SendIPDeviceSearchRequest() {
    // The search belongs to the network; on a serial line it would only reach the host node.
    const Shell &shell = TheShell();
    if (shell.IsOpen() && shell.port.linkKind != kLinkUdp) return 0;
    SendDeviceFrame(kCodeDeviceSearch, nullptr, 0);
    return 1;
}

int IsValidIPAddrResponse(const uint8_t *frame) {
    // The answer lies in the caller's 248-byte record: a longer claimed length is no answer.
    if (!frame || frame[kCode] != kCodeDeviceAnswer || frame[kLength] > kFramePayload) return 0;
    return CheckLinkFrame(frame) ? 1 : 0;
}

int ReadSocketPacket(uint8_t *buffer, uint32_t size) {
    if (buffer && size) std::memset(buffer, 0, size);
    Shell &shell = TheShell();
    // Nothing can arrive on a closed shell or a serial line: 0 ends a read loop at once.
    if (!shell.IsOpen() || shell.port.linkKind != kLinkUdp) return 0;
    const int fd = shell.port.link->Descriptor();
    for (int check = 0; check < kReadChecks; ++check) {
        struct pollfd pfd {fd, POLLIN, 0};
        if (poll(&pfd, 1, kReadCheckMs) <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, size, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        // An empty datagram carries nothing to report; keep listening for answers.
        if (n == 0) continue;
        if (n > 0 && from.sin_family == AF_INET) shell.port.peerAddress = from;
        return static_cast<int>(n);
    }
    return 0;
}

int SetNodeIPAddress(const char *address) {
    TheShell().port.peerAddress.sin_addr.s_addr = address ? inet_addr(address) : INADDR_NONE;
    return 1;
}

int UpdateNodeNetworkParameter(const DeviceEntry *entry) {
    TheShell().port.linkKind = kLinkUdp;
    OpenUdpSocket(nullptr, "255.255.255.255", 0, DEVICE_PORT);
    if (entry) SendDeviceFrame(kCodeDeviceUpdate, entry, sizeof(DeviceEntry));
    return 1;
}

}  // namespace tevrolink
