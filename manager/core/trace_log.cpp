#include "manager/core/trace_log.h"

namespace meradon {

bool TraceLog::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
}

void TraceLog::Replace(FileHandle file) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = std::move(file);
}

void TraceLog::Close() { Replace(nullptr); }

void TraceLog::Write(const std::string &record) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ || record.empty()) return;
    std::fwrite(record.data(), 1, record.size(), file_.get());
    std::fflush(file_.get());
}

}  // namespace meradon
