// The file being sent. The window thread opens it (Send) and closes it (end of a sending,
// cancel, link closed) while the worker reads chunks from it, so every use is under one
// lock, and a chunk is read and handed to the link under that lock: once Close returns,
// nothing more of the file reaches the link.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "manager/core/file_handle.h"

namespace meradon {

class SendFile {
public:
    // Opens `path` for reading; false when it cannot be opened. An open file is kept.
    bool Open(const std::string &path);
    void Close();
    bool IsOpen() const;
    // Length of the open file (0 when none is open). Leaves the position at the start.
    uint32_t Size();
    std::string Path() const;

    // Runs `use(file)` under the lock when the file is open; returns false when it is not.
    template <typename Use>
    bool WithFile(Use use) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_) return false;
        use(file_.get());
        return true;
    }

private:
    mutable std::mutex mutex_;
    FileHandle file_;
    std::string path_;
};

}  // namespace meradon
