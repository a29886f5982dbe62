#include "link/shell_wait.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "link/export_lock.h"
#include "link/receive.h"
#include "link/shell.h"

namespace tevrolink {

namespace {

// Without a wake descriptor a wait sleeps in slices this long and looks at the wakes between.
constexpr long kWakeSliceUs = 20000;

// Every wake is counted, so that none is lost when no descriptor carries it; the descriptor
// only makes a sleeping waiter see it at once. Both are lock-free: a signal handler may wake.
std::atomic<uint64_t> wakesGiven{0};
std::atomic<uint64_t> wakesTaken{0};
std::atomic<int> wakeDescriptor{-1};
std::atomic<bool> toldNoDescriptor{false};

// Once per process, with what a signal handler may call.
void TellNoWakeDescriptor(int error) {
    if (toldNoDescriptor.exchange(true)) return;
    const char *parts[] = {"tevrolink: cannot make the wake descriptor (",
                           strerrorname_np(error) ? strerrorname_np(error) : "?",
                           "); waits look for wakes every 20 ms until it can be made\n"};
    for (const char *part : parts)
        if (write(STDERR_FILENO, part, std::strlen(part)) < 0) return;
}

int MakeWakeDescriptor() {
    const int made = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (made < 0) {
        TellNoWakeDescriptor(errno);
        return -1;
    }
    int kept = -1;
    if (wakeDescriptor.compare_exchange_strong(kept, made)) return made;
    close(made);  // another thread made one first
    return kept;
}

// Made when the library is loaded, and again at use while that failed (a full descriptor
// table). Never closed: a waiter may still poll it while the library unloads.
int WakeDescriptor() {
    const int fd = wakeDescriptor.load();
    return fd >= 0 ? fd : MakeWakeDescriptor();
}

void TakeWakes(int fd) {
    wakesTaken.store(wakesGiven.load());
    uint64_t count = 0;
    while (fd >= 0 && read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool WakeWaiting() { return wakesTaken.load() != wakesGiven.load(); }

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

// A child of fork() has only the thread that forked: none of the parent's waiters came along,
// and a lock one of them held would stay held. Its wakes are its own, not the parent's: its
// descriptor is made at first use, which a child that goes on to exec() never comes to.
void StartAfreshInChild() {
    new (&TheLinkWatchers()) LinkWatchers;
    const int inherited = wakeDescriptor.exchange(-1);
    if (inherited >= 0) close(inherited);
}

[[maybe_unused]] const bool readyAtLoad = [] {
    MakeWakeDescriptor();
    TheLinkWatchers();
    pthread_atfork(nullptr, nullptr, StartAfreshInChild);
    return true;
}();

struct WaitPlan {
    int descriptor = -1;      // the link's, or -1: nothing to watch but the wake
    long delayUs = 0;
    bool stepAtEnd = false;   // the delay ends where a reception step has work: 1, not 0
};

// Gives a waiter's registration back however its wait ends, a thread cancelled in ppoll()
// included: cancellation unwinds the stack.
class Watching {
public:
    explicit Watching(const WaitPlan &plan) : on_(plan.descriptor >= 0) {}
    ~Watching() { End(); }
    Watching(const Watching &) = delete;
    Watching &operator=(const Watching &) = delete;
    void End() {
        if (on_) StopWatching();
        on_ = false;
    }

private:
    bool on_;
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

enum class WaitEnd { kTimeUp, kWoken, kLinkReady, kSignal };

// Sleeps until the link's descriptor (when `link` watches one) is ready, a wake comes, or
// `delayUs` has passed. Without a wake descriptor it sleeps in slices and looks at the wakes.
WaitEnd SleepOnLink(struct pollfd &link, long delayUs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(delayUs);
    for (;;) {
        if (WakeWaiting()) {
            TakeWakes(WakeDescriptor());
            return WaitEnd::kWoken;
        }
        const int wake = WakeDescriptor();
        const long leftUs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now()).count());
        if (leftUs <= 0) return WaitEnd::kTimeUp;
        const long sliceUs = wake >= 0 ? leftUs : std::min(leftUs, kWakeSliceUs);
        struct pollfd watched[2] = {link, {wake, POLLIN, 0}};
        const struct timespec limit {sliceUs / 1000000, sliceUs % 1000000 * 1000};
        const int ready = ppoll(watched, 2, &limit, nullptr);
        if (ready < 0) return WaitEnd::kSignal;
        link.revents = watched[0].revents;
        if (watched[1].revents) TakeWakes(wake);
        if (link.revents) return WaitEnd::kLinkReady;  // what arrived comes before the wake
        if (watched[1].revents) return WaitEnd::kWoken;
    }
}

}  // namespace

int WaitForShellReadable(uint32_t milliseconds) {
    const WaitPlan plan = PlanWait(milliseconds);
    Watching watching(plan);
    if (plan.delayUs <= 0 && plan.stepAtEnd) return 1;
    struct pollfd link {plan.descriptor, POLLIN, 0};  // a negative descriptor is not polled
    const WaitEnd end = SleepOnLink(link, plan.delayUs);
    watching.End();  // before the close below, which waits until no thread watches the link
    switch (end) {
    case WaitEnd::kTimeUp: return plan.stepAtEnd ? 1 : 0;
    case WaitEnd::kWoken: return 0;
    case WaitEnd::kSignal: return 0;  // the caller looks again
    case WaitEnd::kLinkReady: break;
    }
    if (link.revents & (POLLHUP | POLLERR | POLLNVAL)) NoteTrouble(plan.descriptor);
    return 1;
}

void WakeShellWaiters() {
    wakesGiven.fetch_add(1);
    const int fd = WakeDescriptor();
    const uint64_t one = 1;
    while (fd >= 0 && write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void WakeLinkWatchers() {
    LinkWatchers &watchers = TheLinkWatchers();
    std::lock_guard<std::mutex> lock(watchers.mutex);
    if (watchers.count > 0) WakeShellWaiters();
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
