#include "manager/core/send_file.h"

namespace meradon {

bool SendFile::Open(const std::string &path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) return true;
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) return false;
    path_ = path;
    return true;
}

void SendFile::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    file_.reset();
}

bool SendFile::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
}

uint32_t SendFile::Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return 0;
    std::fseek(file_.get(), 0, SEEK_END);
    long end = std::ftell(file_.get());
    std::fseek(file_.get(), 0, SEEK_SET);
    return end > 0 ? static_cast<uint32_t>(end) : 0;
}

std::string SendFile::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

}  // namespace meradon
