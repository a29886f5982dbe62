#include "manager/core/priority.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace meradon {

void RaiseThreadPriority(int nice) {
    // On Linux a nice value belongs to one thread, named by its thread id.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno != 0 || now <= nice) return;
    ::setpriority(PRIO_PROCESS, thread, nice);  // refused without permission: stays as it is
}

void WakeOnTime() {
    // The default slack of 50 us would be added to every wait for a frame's last bytes.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace meradon
