// A descriptor that the main loop polls and any thread may make readable, so that the loop
// sleeps until there is something for it.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace meradon::daemon {

class WakeEvent {
public:
    WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~WakeEvent() {
        if (fd_ >= 0) ::close(fd_);
    }
    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;

    int Descriptor() const { return fd_; }
    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
    // Makes it unreadable again; called before what woke the loop is taken.
    void Clear() {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
    }

private:
    int fd_;
};

}  // namespace meradon::daemon
