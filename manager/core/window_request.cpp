#include "manager/core/window_request.h"

namespace meradon {

void WindowRequest::Answer() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = false;
    answered_.notify_all();
}

void WindowRequest::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    answered_.notify_all();
}

}  // namespace meradon
