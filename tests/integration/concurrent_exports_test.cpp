// Two threads using the library at once, as the manager's window and worker do.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "link/shell.h"
#include "tests/integration/sim_harness.h"
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

// The kernel's word on what a thread of this process is doing; where it does not say, the
// caller goes on at once.
void WaitUntilAsleepInPoll(pid_t thread) {
    const std::string task = "/proc/self/task/" + std::to_string(thread);
    for (int tries = 0; tries < 5000; ++tries) {
        std::ifstream call(task + "/syscall"), stat(task + "/stat");
        std::string number, pid, name;  // the call's number, or "running"
        char state = '?';
        if (!(call >> number) || !(stat >> pid >> name >> state)) return;
        if (number == std::to_string(SYS_ppoll) && state == 'S') return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

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

}  // namespace
