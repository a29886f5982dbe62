// One process-wide lock taken by every exported function, so that two threads calling the
// library never race on the shell. Internal calls do not take it again.
#pragma once

#include <mutex>

namespace tevrolink {

std::mutex &ExportMutex();

class ExportLock {
public:
    ExportLock() : guard_(ExportMutex()) {}

private:
    std::lock_guard<std::mutex> guard_;
};

}  // namespace tevrolink
