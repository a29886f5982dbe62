#include "tests/bench/closed_file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <system_error>

namespace bench {

ClosedFileWatch::ClosedFileWatch(const std::filesystem::path &dir)
    : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0 || inotify_add_watch(fd_, dir.c_str(), IN_CLOSE_WRITE) < 0)
        throw std::system_error(errno, std::generic_category(), "inotify on " + dir.string());
}

ClosedFileWatch::~ClosedFileWatch() { ::close(fd_); }

void ClosedFileWatch::Forget() {
    alignas(inotify_event) char events[4096];
    while (::read(fd_, events, sizeof events) > 0) {
    }
}

std::optional<std::chrono::steady_clock::time_point> ClosedFileWatch::Next(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    const auto seen = std::chrono::steady_clock::now();
    // One event is all that is asked for; the rest of a read that held several is
    // dropped with it.
    alignas(inotify_event) char events[4096];
    if (::read(fd_, events, sizeof events) <= 0) return std::nullopt;
    return seen;
}

}  // namespace bench
