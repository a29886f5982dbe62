// The open trace file. The worker writes records; the window thread closes the file when
// the link is closed; a lock keeps the two apart.
#pragma once

#include <mutex>
#include <string>

#include "manager/core/file_handle.h"

namespace meradon {

class TraceLog {
public:
    bool IsOpen() const;
    // Takes `file` as the open trace file, closing the one before.
    void Replace(FileHandle file);
    void Close();
    // Writes one record and flushes it; nothing when no file is open.
    void Write(const std::string &record);

private:
    mutable std::mutex mutex_;
    FileHandle file_;
};

}  // namespace meradon
