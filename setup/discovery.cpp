#include "setup/discovery.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "link/capture.h"
#include "link/frame.h"
#include "link/shell.h"
#include "link/udp_socket.h"
#include "setup/device_broadcast.h"

namespace tevrolink {
namespace {

constexpr uint8_t kCodeDeviceUpdate = 0x36;
constexpr uint8_t kCodeDeviceSearch = 0x37;
constexpr uint8_t kCodeDeviceAnswer = 0xB7;
constexpr int kReadChecks = 20;
constexpr int kReadCheckMs = 10;

// A shell pointed at 255.255.255.255 broadcasts out of every adapter (or the one its local
// address chose); pointed at one device, it sends there. 1 when the frame left, else 0
// with errno telling why.
int SendDeviceFrame(uint8_t code, const void *payload, uint8_t size) {
    uint8_t frame[kFrameSize] = {};
    frame[kCode] = code;
    frame[kLength] = size;
    if (size) std::memcpy(frame + kPayload, payload, size);
    ShellPort &port = TheShell().port;
    if (!port.link) {
        errno = ENOTCONN;
        return 0;
    }
    if (port.linkKind != kLinkUdp || port.peerAddress.sin_addr.s_addr != htonl(INADDR_BROADCAST)) {
        WriteFrame(port, frame);
        return 1;
    }
    SealLinkFrame(frame);
    return BroadcastOnEveryAdapter(port.link->Descriptor(), frame, FrameWireSize(frame),
                                   ntohs(port.peerAddress.sin_port), port.broadcastSource) > 0;
}

}  // namespace

int SendIPDeviceSearchRequest() {
    // The search belongs to the network; on a serial line it would only reach the host node.
    const Shell &shell = TheShell();
    if (shell.IsOpen() && shell.port.linkKind != kLinkUdp) return 0;
    return SendDeviceFrame(kCodeDeviceSearch, nullptr, 0);
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
        unsigned adapter = 0;
        const ssize_t n = ReceiveNotingAdapter(fd, buffer, size, from, adapter);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n >= 0) CaptureUdpFrame(fd, from, true, buffer, static_cast<std::size_t>(n));
        // An empty datagram carries nothing to report; keep listening for answers.
        if (n == 0) continue;
        if (n > 0 && from.sin_family == AF_INET) shell.port.peerAddress = from;
        shell.port.arrivalAdapter = adapter;
        return static_cast<int>(n);
    }
    return 0;
}

int SetNodeIPAddress(const char *address) {
    TheShell().port.peerAddress.sin_addr.s_addr = address ? inet_addr(address) : INADDR_NONE;
    return 1;
}

int GetSocketPacketAdapter(char *name, uint32_t capacity) {
    char found[IF_NAMESIZE];
    const unsigned adapter = TheShell().port.arrivalAdapter;
    if (adapter == 0 || !if_indextoname(adapter, found)) return 0;
    const std::size_t length = std::strlen(found);
    if (length >= capacity) return 255;
    if (name) std::memcpy(name, found, length + 1);
    return 1;
}

int UpdateNodeNetworkParameter(const DeviceEntry *entry) {
    // An update leaves the way the search did: from the adapter the open broadcast shell
    // was restricted to, or from every adapter.
    const ShellPort &port = TheShell().port;
    in_addr source{};
    if (port.link && port.linkKind == kLinkUdp) source.s_addr = port.broadcastSource;
    char sourceText[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &source, sourceText, sizeof sourceText);
    TheShell().port.linkKind = kLinkUdp;
    OpenUdpSocket(sourceText, "255.255.255.255", 0, DEVICE_PORT);
    if (!entry) return 1;
    return SendDeviceFrame(kCodeDeviceUpdate, entry, sizeof(DeviceEntry));
}

}  // namespace tevrolink
