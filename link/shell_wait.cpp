#include "link/shell_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

#include "link/export_lock.h"
#include "link/receive.h"
#include "link/shell.h"

namespace tevrolink {

namespace {

// Lives as long as the process: a waiter may still poll it while the library unloads.
int WakeDescriptor() {
    static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

void TakeWakes() {
    uint64_t count = 0;
    while (read(WakeDescriptor(), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// Counts the waiters that poll the link's descriptor; registered under the export lock, so a
// close that holds it sees every one.
struct LinkWatchers {
    std::mutex mutex;
    std::condition_variable gone;
    int count = 0;
};

LinkWatchers &TheLinkWatchers() {
    static LinkWatchers watchers;
    return watchers;
}

void StopWatching() {
    LinkWatchers &watchers = TheLinkWatchers();
    std::lock_guard<std::mutex> lock(watchers.mutex);
    if (--watchers.count == 0) watchers.gone.notify_all();
}

struct WaitPlan {
    int descriptor = -1;      // the link's, or -1: nothing to watch but the wake
    long delayUs = 0;
    bool stepAtEnd = false;   // the delay ends where a reception step has work: 1, not 0
};

WaitPlan PlanWait(uint32_t milliseconds) {
    ExportLock lock;
    const Shell &shell = TheShell();
    WaitPlan plan;
    plan.delayUs = static_cast<long>(milliseconds) * 1000L;
    if (!shell.IsOpen()) return plan;
    const auto endSooner = [&plan](long us) {
        if (us >= plan.delayUs) return;
        plan.delayUs = us;
        plan.stepAtEnd = true;
    };
    endSooner(KeeperDueInMs() * 1000L);
    const long inputUs = shell.port.link->InputDelayUs(shell.port);
    if (inputUs >= 0) endSooner(inputUs);  // bytes are queued: the descriptor is readable already
    if (inputUs >= 0 || (plan.delayUs <= 0 && plan.stepAtEnd)) return plan;
    plan.descriptor = shell.port.link->Descriptor();
    LinkWatchers &watchers = TheLinkWatchers();
    std::lock_guard<std::mutex> countLock(watchers.mutex);
    ++watchers.count;
    return plan;
}

// A line that hung up makes poll() return at once, for ever: the shell closes on it now,
// as a reception step would.
void NoteTrouble(int descriptor) {
    ExportLock lock;
    Shell &shell = TheShell();
    if (shell.IsOpen() && shell.port.link->Descriptor() == descriptor) WaitForLink(1);
}

}  // namespace

int WaitForShellReadable(uint32_t milliseconds) {
    const WaitPlan plan = PlanWait(milliseconds);
    if (plan.delayUs <= 0 && plan.stepAtEnd) return 1;
    struct pollfd watched[2] = {{WakeDescriptor(), POLLIN, 0}, {plan.descriptor, POLLIN, 0}};
    const struct timespec limit {plan.delayUs / 1000000, plan.delayUs % 1000000 * 1000};
    const int ready = ppoll(watched, plan.descriptor >= 0 ? 2 : 1, &limit, nullptr);
    if (plan.descriptor >= 0) StopWatching();
    if (ready == 0) return plan.stepAtEnd ? 1 : 0;
    if (ready < 0) return 0;  // a signal: the caller looks again
    if (watched[0].revents) TakeWakes();
    if (plan.descriptor < 0 || !watched[1].revents) return 0;
    if (watched[1].revents & (POLLHUP | POLLERR | POLLNVAL)) NoteTrouble(plan.descriptor);
    return 1;
}

void WakeShellWaiters() {
    const uint64_t one = 1;
    while (write(WakeDescriptor(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void WaitUntilLinkUnwatched() {
    LinkWatchers &watchers = TheLinkWatchers();
    std::unique_lock<std::mutex> lock(watchers.mutex);
    while (watchers.count > 0) {
        // Woken again and again: a waiter that takes the wake first drains it, and one that
        // was about to poll would then sleep its whole time.
        WakeShellWaiters();
        watchers.gone.wait_for(lock, std::chrono::milliseconds(5));
    }
}

}  // namespace tevrolink
