// Files that another process closes after writing them in one directory, seen through
// inotify the moment the kernel reports them, on the steady clock.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>

namespace bench {

class ClosedFileWatch {
public:
    explicit ClosedFileWatch(const std::filesystem::path &dir);
    ~ClosedFileWatch();
    ClosedFileWatch(const ClosedFileWatch &) = delete;
    ClosedFileWatch &operator=(const ClosedFileWatch &) = delete;

    // Forgets what was reported before now.
    void Forget();
    // When the next file closed after writing was seen; nullopt after `timeout`.
    std::optional<std::chrono::steady_clock::time_point> Next(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
};

}  // namespace bench
