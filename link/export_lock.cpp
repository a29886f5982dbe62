#include "link/export_lock.h"

namespace tevrolink {

std::mutex &ExportMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace tevrolink
