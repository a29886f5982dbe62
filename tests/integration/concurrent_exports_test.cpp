// Two threads using the library at once, as the manager's window and worker do.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

// A thread that sleeps in WaitForShellReadable does not hold the library: another thread's
// commands get their replies meanwhile, and closing the shell ends the wait.
TEST(ConcurrentExports, AWaitingThreadLetsCommandsThroughAndEndsWithTheClose) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    SetHostHandShake(0);
    std::thread waiter([] {
        // Woken by the status reports the queries below bring, and at last by the close;
        // a wait that missed the close would never end.
        while (IsShellActive()) {
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
    CloseShell();
    waiter.join();
}

}  // namespace
