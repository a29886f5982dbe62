// Two threads using the library at once, as the manager's window and worker do.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/shell.h"
#include "tests/integration/sim_harness.h"
#include "tests/support/thread_state.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;

namespace {

TEST(ConcurrentExports, CommandsAndPollingFromTwoThreadsNeverLoseAReply) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    std::atomic<bool> stop{false};
    std::atomic<int> polled{0};
    // One thread polls the link all the time, the way the worker does.
    std::thread poller([&] {
        while (!stop) {
            uint8_t state = 0;
            uint16_t credit = 0;
            IsShellReadable(&state, &credit);
            QueryHostRTxStatus(nullptr);
            IsShellWritable(&state, &credit);
            ++polled;
        }
    });
    // Two threads issue commands. Each export holds the library's lock for its whole
    // transaction, so a reply cannot be taken by the poller.
    std::atomic<int> failures{0};
    auto commands = [&](int base) {
        for (int i = 0; i < 40; ++i) {
            uint8_t out = 0, role = 0;
            if (SetFrequencyPointX1((base + i) % 17, &out) != 1) ++failures;
            if (GetHostNodeID(&out, &role) != 1) ++failures;
        }
    };
    std::thread first(commands, 0), second(commands, 5);
    first.join();
    second.join();
    stop = true;
    poller.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(polled.load(), 0);
    CloseShell();
}

uint16_t LocalPortOfTheShell() {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    getsockname(tevrolink::TheShell().port.link->Descriptor(), reinterpret_cast<sockaddr *>(&local), &size);
    return ntohs(local.sin_port);
}

void WaitUntilAsleepInPoll(pid_t thread) { test_support::WaitUntilAsleepIn(thread, SYS_ppoll); }

// A thread that sleeps in WaitForShellReadable does not hold the library: another thread's
// commands get their replies meanwhile, and closing the shell ends the wait and lets go of
// the port at once, so that the link opens again on it (an operator's "close" then "open").
TEST(ConcurrentExports, AWaitingThreadLetsCommandsThroughAndEndsWithTheClose) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    const uint16_t localPort = LocalPortOfTheShell();
    // The waiter is slow to run once woken, as on a loaded machine: it shares one core with
    // this thread, at the lowest priority.
    cpu_set_t oneCore, allCores;
    CPU_ZERO(&oneCore);
    CPU_SET(sched_getcpu(), &oneCore);
    sched_getaffinity(0, sizeof allCores, &allCores);
    std::atomic<bool> done{false};
    std::atomic<pid_t> waiterThread{0};
    std::thread waiter([&done, &oneCore, &waiterThread] {
        waiterThread = gettid();
        const sched_param lowest{};
        pthread_setaffinity_np(pthread_self(), sizeof oneCore, &oneCore);
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &lowest);
        // Woken by the status reports the queries below bring, and at last by the close;
        // a wait that missed the close would never end.
        while (!done) {
            WaitForShellReadable(UINT32_MAX);
            IsShellReadable(nullptr, nullptr);
        }
    });
    int failures = 0;
    for (int i = 0; i < 40; ++i) {
        uint8_t out = 0, role = 0;
        QueryHostRTxStatus(nullptr);
        if (GetHostNodeID(&out, &role) != 1) ++failures;
    }
    EXPECT_EQ(failures, 0);
    pthread_setaffinity_np(pthread_self(), sizeof oneCore, &oneCore);
    WaitUntilAsleepInPoll(waiterThread);
    int reopened = 0;
    for (; reopened < 5; ++reopened) {
        CloseShell();
        if (OpenNETShell("127.0.0.1", "127.0.0.1", localPort, sim->Port()) != 1) break;
    }
    EXPECT_EQ(reopened, 5) << "errno " << errno;
    pthread_setaffinity_np(pthread_self(), sizeof allCores, &allCores);
    done = true;
    CloseShell();
    waiter.join();
}

// A thread that sleeps in WaitForShellReadable again and again until `done`, taking in what
// it is told of and counting the waits that a wake ended.
struct Waiter {
    explicit Waiter(std::atomic<bool> &done) : thread([this, &done] {
        id = gettid();
        while (!done) {
            if (WaitForShellReadable(UINT32_MAX))
                IsShellReadable(nullptr, nullptr);
            else
                ++woken;
        }
    }) {}
    pid_t Id() {
        while (id == 0) std::this_thread::yield();
        return id;
    }
    std::atomic<pid_t> id{0};
    std::atomic<int> woken{0};
    std::thread thread;
};

// False when `call` has not returned within kWait: it hangs, and is left to hang.
bool ReturnsInTime(const std::function<void()> &call) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> returned = done->get_future();
    std::thread([call, done] {
        call();
        done->set_value();
    }).detach();
    return returned.wait_for(kWait) == std::future_status::ready;
}

// Fills the descriptor table below a lowered limit for as long as it lives.
class FullDescriptorTable {
public:
    FullDescriptorTable() {
        getrlimit(RLIMIT_NOFILE, &before_);
        rlimit lowered = before_;
        lowered.rlim_cur = 256;
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
        full_ = errno == EMFILE && !taken_.empty();
    }
    ~FullDescriptorTable() {
        for (int fd : taken_) ::close(fd);
        setrlimit(RLIMIT_NOFILE, &before_);
    }
    bool Full() const { return full_; }

private:
    bool full_ = false;
    rlimit before_{};
    std::vector<int> taken_;
};

// A waiter's registration left behind would hang every later close, and with it the
// library: here a waiting thread cancelled in its sleep.
TEST(ConcurrentExports, ACancelledWaiterLeavesTheCloseFree) {
#if defined(__SANITIZE_ADDRESS__)
    // Its runtime takes the forced unwinding of a cancelled thread for an overflow of its
    // own sigaltstack buffer; the plain and the thread-sanitizer builds run this.
    GTEST_SKIP() << "pthread_cancel's unwinding is not followed by the address sanitizer";
#endif
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    std::atomic<pid_t> cancelledId{0};
    pthread_t cancelled;
    ASSERT_EQ(pthread_create(&cancelled, nullptr, [](void *id) -> void * {
        static_cast<std::atomic<pid_t> *>(id)->store(gettid());
        for (;;) WaitForShellReadable(UINT32_MAX);
    }, &cancelledId), 0);
    while (cancelledId == 0) std::this_thread::yield();
    WaitUntilAsleepInPoll(cancelledId);
    pthread_cancel(cancelled);
    pthread_join(cancelled, nullptr);
    ASSERT_TRUE(ReturnsInTime([] { CloseShell(); })) << "the cancelled waiter's registration holds the close";
}

// A child of fork() has none of its parent's waiters, though one of them sleeps: it closes
// and opens the link anew on its own port.
TEST(ConcurrentExports, AChildOfForkClosesTheLinkItsParentWaitsOn) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    std::atomic<bool> done{false};
    Waiter waiter(done);
    WaitUntilAsleepInPoll(waiter.Id());
    const uint16_t childPort = FreeUdpPort();
    const pid_t child = fork();
    if (child == 0) {
        alarm(static_cast<unsigned>(kWait.count() / 1000));  // a hang ends the child
        CloseShell();
        const bool opened = OpenNETShell("127.0.0.1", "127.0.0.1", childPort, sim->Port()) == 1;
        CloseShell();
        _exit(opened ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "the child hung in its close" : "the child could not open the link");
    done = true;
    CloseShell();
    waiter.thread.join();
}

// A wake given while no wake descriptor can be made is not lost: the first wake of the
// process with its descriptor table full, and in a child of fork(), whose wakes are its own,
// every wake while its table stays full.
TEST(ConcurrentExports, WakesReachTheWaiterWhenTheDescriptorTableIsFull) {
#if defined(__SANITIZE_ADDRESS__)
    // Its runtime needs descriptors of its own (its type checks read the process's maps),
    // which a full table denies it; the plain and the thread-sanitizer builds run this.
    GTEST_SKIP() << "the sanitizers' runtime cannot work with a full descriptor table";
#endif
    {
        FullDescriptorTable full;
        ASSERT_TRUE(full.Full());
        WakeShellWaiters();
    }
    EXPECT_TRUE(ReturnsInTime([] { WaitForShellReadable(UINT32_MAX); })) << "the wake given then was lost";

    const pid_t child = fork();
    if (child == 0) {
        alarm(static_cast<unsigned>(kWait.count() / 1000));
        FullDescriptorTable full;
        std::atomic<bool> done{false};
        Waiter waiter(done);
        // Whether it comes before the waiter sleeps or while it sleeps, each wake ends a wait.
        for (int wakes = 1; wakes <= 3; ++wakes) {
            WakeShellWaiters();
            while (waiter.woken < wakes) std::this_thread::yield();
        }
        done = true;
        WakeShellWaiters();
        waiter.thread.join();
        _exit(full.Full() ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "a wake was lost in the child" : "the child's table was not full");
}

// With hand-shake on, a stream frame that another thread writes is resent by the link
// keeper 250 ms later unless acknowledged: the waiting thread, which takes in for both,
// wakes for it rather than sleeping through it.
TEST(ConcurrentExports, AStreamWriteOfAnotherThreadWakesTheWaiterForItsResend) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    ASSERT_TRUE(Synchronise());
    std::atomic<bool> done{false};
    Waiter waiter(done);
    WaitUntilAsleepInPoll(waiter.Id());
    sim->SetSilent(true);  // no acknowledgement comes
    const std::size_t from = sim->ReceivedCount();
    const uint8_t bytes[16] = {};
    ASSERT_EQ(WriteStreamToShell(bytes, sizeof bytes, 5, 1, 0), 1);
    EXPECT_EQ(sim->WaitForReceivedCount(hostsim::WithCode(tevrolink::kCodeStream), 2, kWait, from).size(), 2u)
        << "no resend while the waiter sleeps";
    done = true;
    CloseShell();
    waiter.thread.join();
}

}  // namespace
