#include "setup/device_broadcast.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "link/capture.h"

namespace tevrolink {
namespace {

struct BroadcastAdapter {
    unsigned index;
    in_addr_t address;   // network order
    in_addr_t directed;  // the subnet's broadcast address, INADDR_ANY when unknown
};

bool CanBroadcast(unsigned flags) {
    return (flags & IFF_UP) && (flags & IFF_BROADCAST) && !(flags & IFF_LOOPBACK);
}

// One buffer to or from an address, with room for one IP_PKTINFO.
struct PktinfoMessage {
    sockaddr_in peer{};
    iovec data;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr header{};

    PktinfoMessage(const void *buffer, std::size_t size) : data{const_cast<void *>(buffer), size} {
        header.msg_name = &peer;
        header.msg_namelen = sizeof peer;
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
    PktinfoMessage(const PktinfoMessage &) = delete;
    PktinfoMessage &operator=(const PktinfoMessage &) = delete;
};

// One datagram out of the adapter `index` from `source`, to `destination`.
bool SendThrough(int fd, const uint8_t *data, std::size_t size, in_addr_t destination,
                 uint16_t port, unsigned index, in_addr_t source) {
    PktinfoMessage message(data, size);
    message.peer.sin_family = AF_INET;
    message.peer.sin_addr.s_addr = destination;
    message.peer.sin_port = htons(port);
    cmsghdr *info = CMSG_FIRSTHDR(&message.header);
    info->cmsg_level = IPPROTO_IP;
    info->cmsg_type = IP_PKTINFO;
    info->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo pktinfo{};
    pktinfo.ipi_ifindex = static_cast<int>(index);
    pktinfo.ipi_spec_dst.s_addr = source;
    std::memcpy(CMSG_DATA(info), &pktinfo, sizeof pktinfo);
    if (::sendmsg(fd, &message.header, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) return false;
    CaptureUdpFrame(fd, message.peer, false, data, size);
    return true;
}

}  // namespace

int BroadcastOnEveryAdapter(int fd, const uint8_t *data, std::size_t size, uint16_t port,
                            in_addr_t source) {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    std::set<std::string> broadcasting;  // adapters up that can broadcast, with or without IPv4
    std::set<unsigned> sentOn;           // an adapter with two addresses is sent on once
    int sent = 0, lastError = 0;
    for (const ifaddrs *a = list; a; a = a->ifa_next) {
        if (!CanBroadcast(a->ifa_flags)) continue;
        broadcasting.insert(a->ifa_name);
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        const in_addr_t address = reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr.s_addr;
        if (source != htonl(INADDR_ANY) && address != source) continue;
        const BroadcastAdapter adapter{
            if_nametoindex(a->ifa_name), address,
            a->ifa_broadaddr ? reinterpret_cast<const sockaddr_in *>(a->ifa_broadaddr)->sin_addr.s_addr
                             : htonl(INADDR_ANY)};
        if (adapter.index == 0 || !sentOn.insert(adapter.index).second) continue;
        if (SendThrough(fd, data, size, htonl(INADDR_BROADCAST), port, adapter.index, adapter.address) ||
            (adapter.directed != htonl(INADDR_ANY) &&
             SendThrough(fd, data, size, adapter.directed, port, adapter.index, adapter.address)))
            ++sent;
        else
            lastError = errno;
    }
    freeifaddrs(list);
    if (sent == 0) errno = lastError ? lastError : broadcasting.empty() ? ENODEV : EADDRNOTAVAIL;
    return sent;
}

ssize_t ReceiveNotingAdapter(int fd, uint8_t *buffer, std::size_t size, sockaddr_in &from,
                             unsigned &adapter) {
    PktinfoMessage message(buffer, size);
    const ssize_t n = ::recvmsg(fd, &message.header, MSG_DONTWAIT);
    from = message.peer;
    adapter = 0;
    for (cmsghdr *c = n < 0 ? nullptr : CMSG_FIRSTHDR(&message.header); c; c = CMSG_NXTHDR(&message.header, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        adapter = static_cast<unsigned>(info.ipi_ifindex);
    }
    return n;
}

}  // namespace tevrolink
