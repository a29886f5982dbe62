// Files that another process closes after writing them in one directory, seen through
// inotify the moment the kernel reports them, on the steady clock.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/inotify.h>

namespace bench {

class ClosedFileWatch {
public:
    explicit ClosedFileWatch(const std::filesystem::path &dir);
    ~ClosedFileWatch();
    ClosedFileWatch(const ClosedFileWatch &) = delete;
    ClosedFileWatch &operator=(const ClosedFileWatch &) = delete;

    struct Closed {
        std::chrono::steady_clock::time_point seen;
        std::string name;
    };

    // Forgets what was reported before now.
    void Forget();
    // The next file closed after writing and when it was seen; nullopt after `timeout`.
    std::optional<Closed> Next(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
    // Events read but not handed out yet: one read can bring several.
    alignas(inotify_event) char events_[4096];
    std::size_t eventsHeld_ = 0, eventAt_ = 0;
};

}  // namespace bench
