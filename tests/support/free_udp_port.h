// A UDP (or TCP) port on 127.0.0.1 that nothing is bound to, for a test's own socket,
// simulator or broker.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace test_support {

inline uint16_t FreeLoopbackPort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline uint16_t FreeUdpPort() { return FreeLoopbackPort(SOCK_DGRAM); }
inline uint16_t FreeTcpPort() { return FreeLoopbackPort(SOCK_STREAM); }

}  // namespace test_support
