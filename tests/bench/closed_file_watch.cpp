#include "tests/bench/closed_file_watch.h"

#include <poll.h>
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
    while (::read(fd_, events_, sizeof events_) > 0) {
    }
    eventsHeld_ = eventAt_ = 0;
}

std::optional<ClosedFileWatch::Closed> ClosedFileWatch::Next(std::chrono::milliseconds timeout) {
    auto seen = std::chrono::steady_clock::now();
    if (eventAt_ == eventsHeld_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
        seen = std::chrono::steady_clock::now();
        const ssize_t n = ::read(fd_, events_, sizeof events_);
        if (n <= 0) return std::nullopt;
        eventsHeld_ = static_cast<std::size_t>(n);
        eventAt_ = 0;
    }
    const auto *event = reinterpret_cast<const inotify_event *>(events_ + eventAt_);
    eventAt_ += sizeof(inotify_event) + event->len;
    return Closed{seen, event->len ? std::string(event->name) : std::string()};
}

}  // namespace bench
