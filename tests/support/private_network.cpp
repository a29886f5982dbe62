#include "tests/support/private_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace testsupport {
namespace {

std::string Failed(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

bool WriteFile(const char *path, const std::string &text) {
    std::ofstream out(path);
    return static_cast<bool>(out << text << std::flush);
}

// Without root a user namespace grants the capabilities a network namespace needs.
bool UnshareNetwork(std::string &reason) {
    if (unshare(CLONE_NEWNET) == 0) return true;
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        reason = Failed("unshare(CLONE_NEWNET), also in a user namespace");
        return false;
    }
    if (!WriteFile("/proc/self/setgroups", "deny") ||
        !WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        reason = Failed("mapping the user namespace");
        return false;
    }
    return true;
}

bool LoopbackUp(std::string &reason) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (!up) reason = Failed("bringing loopback up");
    if (fd >= 0) close(fd);
    return up;
}

void AddAttribute(nlmsghdr *message, int type, const void *data, std::size_t size) {
    auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(message) +
                                                 NLMSG_ALIGN(message->nlmsg_len));
    attribute->rta_type = static_cast<unsigned short>(type);
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(attribute), data, size);
    message->nlmsg_len = NLMSG_ALIGN(message->nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// ip route add broadcast 255.255.255.255 dev lo src 127.0.0.1 (in the local table).
bool BroadcastRouteToLoopback(std::string &reason) {
    struct {
        nlmsghdr header;
        rtmsg route;
        char attributes[64];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_NEWROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL | NLM_F_ACK;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    request.route.rtm_table = RT_TABLE_LOCAL;
    request.route.rtm_protocol = RTPROT_BOOT;
    request.route.rtm_scope = RT_SCOPE_LINK;
    request.route.rtm_type = RTN_BROADCAST;
    const in_addr_t destination = htonl(INADDR_BROADCAST);
    const in_addr_t source = htonl(INADDR_LOOPBACK);
    const int loopback = static_cast<int>(if_nametoindex("lo"));
    AddAttribute(&request.header, RTA_DST, &destination, sizeof destination);
    AddAttribute(&request.header, RTA_PREFSRC, &source, sizeof source);
    AddAttribute(&request.header, RTA_OIF, &loopback, sizeof loopback);

    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        reason = Failed("opening a route socket");
        return false;
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    bool added = sendto(fd, &request, request.header.nlmsg_len, 0,
                        reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) >= 0;
    char answer[512];
    if (added) {
        const ssize_t n = recv(fd, answer, sizeof answer, 0);
        const auto *header = reinterpret_cast<const nlmsghdr *>(answer);
        added = n >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) &&
                header->nlmsg_type == NLMSG_ERROR;
        if (added) {
            const int error = static_cast<const nlmsgerr *>(NLMSG_DATA(header))->error;
            errno = -error;
            added = error == 0;
        }
    }
    if (!added) reason = Failed("adding the broadcast route to loopback");
    close(fd);
    return added;
}

}  // namespace

const std::string &EnterPrivateNetwork() {
    static const std::string failure = [] {
        std::string reason;
        if (UnshareNetwork(reason) && LoopbackUp(reason) && BroadcastRouteToLoopback(reason))
            reason.clear();
        return reason;
    }();
    return failure;
}

}  // namespace testsupport
