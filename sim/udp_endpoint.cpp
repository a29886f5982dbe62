#include "sim/udp_endpoint.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>

namespace hostsim {

UdpEndpoint::UdpEndpoint(const std::string &address, uint16_t port) {
    local_.sin_family = AF_INET;
    local_.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local_.sin_addr) != 1)
        throw std::system_error(EINVAL, std::generic_category(), "bad address " + address);
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
    if (::bind(fd_, reinterpret_cast<const sockaddr *>(&local_), sizeof local_) != 0) {
        const int err = errno;
        ::close(fd_);
        throw std::system_error(err, std::generic_category(), "bind " + address);
    }
    socklen_t len = sizeof local_;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&local_), &len);
}

UdpEndpoint::~UdpEndpoint() { ::close(fd_); }

void UdpEndpoint::ReadFrames(std::vector<IncomingFrame> &out) {
    for (;;) {
        uint8_t buf[512];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0) return;
        if (from.sin_family != AF_INET) continue;
        IncomingFrame frame;
        frame.bytes.assign(buf, buf + n);
        frame.crcOk = static_cast<std::size_t>(n) >= kPayload &&
                      static_cast<std::size_t>(n) >= kPayload + buf[kLength] &&
                      tevrolink::CheckLinkFrame(buf);
        // Only a well-formed frame redirects the answers; noise must not steal the link.
        if (frame.crcOk) peer_ = from;
        out.push_back(std::move(frame));
    }
}

void UdpEndpoint::Send(const Bytes &frame) {
    if (!peer_) return;  // nobody has spoken to us yet
    ::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr *>(&*peer_),
             sizeof *peer_);
}

std::string UdpEndpoint::Describe() const {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local_.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(Port());
}

uint16_t UdpEndpoint::Port() const { return ntohs(local_.sin_port); }

bool ParseUdpAddress(const std::string &text, std::string &address, uint16_t &port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    address = text.substr(0, colon);
    const char *first = text.data() + colon + 1;
    const char *last = text.data() + text.size();
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || first == last || value > 65535) return false;
    in_addr probe{};
    if (inet_pton(AF_INET, address.c_str(), &probe) != 1) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace hostsim
