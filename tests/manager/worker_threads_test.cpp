// The parts that cross between the worker and the window thread: the queues, the
// requests the worker waits on, shutdown while the worker is blocked, and how often the
// two poll.
#include <gtest/gtest.h>

#include <sys/syscall.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <future>
#include <thread>

#include "manager/core/manager.h"
#include "manager/core/sending.h"
#include "manager/core/worker.h"
#include "manager/core/spsc_queue.h"
#include "tests/manager/core_fixture.h"
#include "tests/support/thread_state.h"

using namespace meradon;
using namespace meradon_test;

TEST(SpscQueue, KeepsOrderAcrossBlocksAndThreads) {
    SpscQueue<std::array<uint32_t, 2>, 4> queue;
    std::array<uint32_t, 2> out{};
    EXPECT_FALSE(queue.Pop(out));
    constexpr uint32_t kCount = 200'000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kCount; ++i) queue.Push({i, ~i});
    });
    uint32_t expected = 0;
    while (expected < kCount) {
        if (!queue.Pop(out)) continue;
        ASSERT_EQ(out[0], expected);
        ASSERT_EQ(out[1], ~expected);
        ++expected;
    }
    producer.join();
    EXPECT_FALSE(queue.Pop(out));
    queue.Push({7, 7});
    queue.Clear();
    EXPECT_FALSE(queue.Pop(out));
}

TEST(WindowRequest, WaitsForTheAnswerOrForShutdown) {
    WindowRequest request;
    std::promise<void> asked;
    auto waiter = std::async(std::launch::async, [&] {
        return request.AskAndWait([&] { asked.set_value(); });
    });
    asked.get_future().wait();
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    request.Answer();
    EXPECT_TRUE(waiter.get());

    // Answered before the asker starts waiting.
    EXPECT_TRUE(request.AskAndWait([&] { request.Answer(); }));

    auto released = std::async(std::launch::async, [&] { return request.AskAndWait([] {}); });
    request.Release();
    EXPECT_FALSE(released.get());
    EXPECT_FALSE(request.AskAndWait([] {})) << "after shutdown nothing waits";
}

TEST(Manager, StopsWithTheWorkersBoxStillOpen) {
    RecordingView view;
    ManualClock clock;
    auto dir = FreshDirectory("stop");
    std::filesystem::create_directories(dir);
    const auto file = dir / "payload.bin";
    { std::ofstream(file) << "some bytes to send"; }
    std::promise<void> boxShown;
    view.onMessageBox = [&](const std::string &) { boxShown.set_value(); };  // never closed
    {
        Manager manager(view, clock, dir);
        manager.Start();
        ASSERT_EQ(manager.PrepareSending(file.string()), PrepareResult::Armed);
        // Data transfer mode with no link: the worker sees the link out of step.
        manager.State().linkMode = LINK_DATA;
        ASSERT_EQ(boxShown.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(view.TakePosted(), std::vector<int>{CMD_TRANSFER_END});
        // Destroying the manager joins the worker, whose box is still open.
    }
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{"串口通讯失步，请检查后重试！"});
    EXPECT_EQ(view.Enabled()[ControlId::Send], true) << "controls restored without the box closed";
    const std::vector<std::string> lines = view.LineTexts();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "串口通讯失步，请检查后重试！"), lines.end())
        << "what the box says is in the record";
    std::filesystem::remove_all(dir);
}

// The worker ends a sending from the step it saw: when the operator cancelled it and armed
// the next one meanwhile, the late end leaves the new sending, its file and its record be.
TEST(Manager, AnEarlyEndLeavesTheSendingArmedAfterIt) {
    RecordingView view;
    ManualClock clock;
    auto dir = FreshDirectory("early-end");
    std::filesystem::create_directories(dir);
    const auto file = dir / "payload.bin";
    { std::ofstream(file) << "some bytes to send"; }
    Manager manager(view, clock, dir);
    ASSERT_EQ(manager.PrepareSending(file.string()), PrepareResult::Armed);
    manager.State().sendState.store(STREAM);  // what the worker saw
    manager.SendingCancelled();
    manager.FinishSending();
    ASSERT_EQ(manager.PrepareSending(file.string()), PrepareResult::Armed);
    view.TakePosted();

    for (StationOutcome why : {StationOutcome::Cancelled, StationOutcome::LinkLost})
        EXPECT_FALSE(EndSendingEarly(manager.Context(), STREAM, why));
    EXPECT_TRUE(view.TakePosted().empty()) << "no end posted for the new sending";
    EXPECT_EQ(manager.State().sendState.load(), ACTIVATE);
    EXPECT_TRUE(manager.State().sendFile.IsOpen());
    const auto records = manager.Context().sendings.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].Ended());
    EXPECT_FALSE(records[1].Ended());
    std::filesystem::remove_all(dir);
}

TEST(Manager, PrepareSendingRefusals) {
    RecordingView view;
    ManualClock clock;
    auto dir = FreshDirectory("prepare");
    std::filesystem::create_directories(dir);
    Manager manager(view, clock, dir);
    EXPECT_EQ(manager.PrepareSending(""), PrepareResult::NoPath);
    EXPECT_EQ(manager.PrepareSending((dir / "missing").string()), PrepareResult::CannotOpen);
    { std::ofstream(dir / "empty"); }
    EXPECT_EQ(manager.PrepareSending((dir / "empty").string()), PrepareResult::EmptyFile);
    EXPECT_FALSE(manager.State().sendFile.IsOpen());
    EXPECT_EQ(manager.State().sendState.load(), IDLE);
    std::filesystem::remove_all(dir);
}

TEST(WorkerWaitMs, SleepsUntilTheNextDeadlineAndNeverSpinsOnOnePast) {
    CoreFixture f("wait");
    AppState &s = f.core.state;
    const int64_t now = f.clock.NowMs();
    s.linkMode.store(LINK_DATA);
    s.lastPollTime.store(now);
    s.lastHeardTime.store(now);
    EXPECT_EQ(WorkerWaitMs(f.core), kStatusPollMs) << "the status poll is next";
    s.sendState.store(ACTIVATE);
    s.passStartTime.store(now);
    s.stepTime.store(now - kActivationRetryMs + 10);
    EXPECT_EQ(WorkerWaitMs(f.core), 11) << "the activation's next try";
    s.stepTime.store(now - 10 * kActivationRetryMs);
    s.lastPollTime.store(now - 10 * kStatusPollMs);
    EXPECT_EQ(WorkerWaitMs(f.core), kLongestWaitMs) << "deadlines long past are left to what comes next";
    // Outside data transfer mode only the link and the window wake it.
    for (uint8_t mode : {LINK_WINDOW, LINK_NO_MODE, LINK_SEARCH}) {
        s.linkMode.store(mode);
        EXPECT_EQ(WorkerWaitMs(f.core), kNothingDueMs) << int(mode);
    }
}

// The thread of this process named `name`, once it has taken the name.
pid_t ThreadNamed(const std::string &name) {
    for (;;) {
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
            std::string comm;
            std::getline(std::ifstream(entry.path() / "comm"), comm);
            if (comm == name) return std::stoi(entry.path().filename().string());
        }
        std::this_thread::yield();
    }
}

// With no link, and while the window holds it, the worker sleeps until the link is handed
// over: over a quiet half second it does not go back to sleep once. (That a hand-over wakes
// it shows where the window enters data transfer mode and the worker acts at once.)
TEST(Manager, TheWorkerSleepsUntilTheLinkIsHandedOver) {
    RecordingView view;
    ManualClock clock;
    auto dir = FreshDirectory("quiet");
    Manager manager(view, clock, dir);
    manager.Start();
    const pid_t worker = ThreadNamed(kWorkerThreadName);
    for (const auto &[mode, sleepsIn] : {std::pair{LINK_NO_MODE, SYS_ppoll}, std::pair{LINK_WINDOW, SYS_futex}}) {
        manager.State().linkMode = mode;
        test_support::WaitUntilAsleepIn(worker, sleepsIn);
        const long sleeps = test_support::VoluntarySwitches(worker);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(test_support::VoluntarySwitches(worker), sleeps) << "woke in mode " << int(mode);
    }
    manager.Stop();
    std::filesystem::remove_all(dir);
}
