#include "manager/core/open_boxes.h"

namespace meradon {

bool OpenBoxes::Open(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_.insert(text).second;
}

void OpenBoxes::Closed(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.erase(text);
}

}  // namespace meradon
