#include "tests/support/private_network.h"

#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <fstream>
#include <thread>

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

// Runs an `ip` command in the calling thread's network namespace; on failure, `reason`
// gets the command and what it said. `shown` (if not null) receives its output.
bool Ip(const std::string &arguments, std::string &reason, std::string *shown = nullptr) {
    const std::string command = "ip " + arguments + " 2>&1";
    FILE *output = popen(command.c_str(), "r");
    if (!output) {
        reason = Failed(command);
        return false;
    }
    std::string said;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, output)) said += buffer;
    if (shown) *shown = said;
    if (pclose(output) == 0) return true;
    reason = "ip " + arguments + " failed: " + said;
    return false;
}

// A link set up passes packets only a moment later, once the kernel has seen its carrier
// and attached its queue (until then the queue is "noop" and drops them). Waits for that,
// woken by the link notifications of the calling thread's namespace.
bool WaitUntilPassing(const std::string &adapter, std::string &reason) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK;
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        reason = Failed("listening for link notifications");
        if (fd >= 0) close(fd);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool passing = false;
    for (std::string shown; !passing && Ip("-o link show dev " + adapter, reason, &shown);) {
        passing = shown.find("state UP") != std::string::npos && shown.find("qdisc noop") == std::string::npos;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd notified{fd, POLLIN, 0};
        if (passing || left.count() <= 0 || poll(&notified, 1, static_cast<int>(left.count())) != 1) break;
        char notifications[16384];
        [[maybe_unused]] const ssize_t n = recv(fd, notifications, sizeof notifications, 0);
    }
    close(fd);
    if (!passing && reason.empty()) reason = adapter + " did not come up within 5 s";
    return passing;
}

}  // namespace

const std::string &EnterPrivateNetwork() {
    static const std::string failure = [] {
        std::string reason;
        if (UnshareNetwork(reason) && LoopbackUp(reason)) reason.clear();
        return reason;
    }();
    return failure;
}

DeviceSegment::DeviceSegment(std::string adapter, int net) : adapter_(std::move(adapter)), net_(net) {
    // The namespace this thread is in, by a path that a child process can open too.
    const std::string here = "/proc/" + std::to_string(getpid()) + "/task/" +
                             std::to_string(gettid()) + "/ns/net";
    const std::string far = "10." + std::to_string(net_) + ".0.2/24";
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            failure_ = Failed("a namespace for the far end");
            return;
        }
        farNamespace_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        linked_ = Ip("link add far0 type veth peer name " + adapter_ + " netns " + here, failure_);
        if (linked_ && Ip("link set lo up", failure_) && Ip("address add " + far + " dev far0", failure_))
            Ip("link set far0 up", failure_);
    }).join();
    if (failure_.empty() && Ip("address add " + PcAddress() + "/24 dev " + adapter_, failure_) &&
        Ip("link set " + adapter_ + " up", failure_) && WaitUntilPassing(adapter_, failure_))
        Inside([this] { WaitUntilPassing("far0", failure_); });
}

DeviceSegment::~DeviceSegment() {
    std::string ignored;
    if (linked_) Ip("link delete " + adapter_, ignored);
    if (farNamespace_ >= 0) close(farNamespace_);
}

std::string DeviceSegment::PcAddress() const { return "10." + std::to_string(net_) + ".0.1"; }

std::string DeviceSegment::Subnet() const { return "10." + std::to_string(net_) + ".0.0/24"; }

bool DeviceSegment::PcSide(const std::string &ipArguments) { return Ip(ipArguments, failure_); }

void DeviceSegment::Inside(const std::function<void()> &work) const {
    std::exception_ptr thrown;
    std::thread([&] {
        try {
            if (setns(farNamespace_, CLONE_NEWNET) != 0) throw std::runtime_error(Failed("entering the far end"));
            work();
        } catch (...) {
            thrown = std::current_exception();
        }
    }).join();
    if (thrown) std::rethrow_exception(thrown);
}

}  // namespace testsupport
