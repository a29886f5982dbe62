#include "manager/core/worker.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

#include "manager/core/dispatch.h"
#include "manager/core/link_watch.h"
#include "manager/core/priority.h"
#include "manager/core/send_watch.h"
#include "manager/core/sending.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

// Takes a frame from the link, if one came, and hands it on; false when the window holds
// the link or the link ended. One hold of the gate, so the window never takes the link
// between the check of the frame and its copy (see HandLinkToWindow).
bool TakeFrame(Core &core, uint8_t &linkState, bool &ready) {
    AppState &state = core.state;
    std::lock_guard<std::mutex> gate(state.dispatchGate);
    if (state.linkMode.load() == LINK_WINDOW) {
        state.lastPollTime.store(core.Now());
        WatchLinkEnd(core);  // a command of the window may have found the line gone
        return false;
    }
    linkState = 0;
    ready = IsShellReadable(&linkState, nullptr) != 0;
    if (ready) NoteLinkHeard(core);
    if (WatchLinkEnd(core)) return false;
    if (state.linkMode.load() == LINK_NO_MODE) {  // poll to keep the link, drop the packet
        state.lastPollTime.store(core.Now());
        return false;
    }
    if (ready) DispatchPacket(core);
    return true;
}

}  // namespace

bool NeedStatusPoll(Core &core) {
    AppState &state = core.state;
    if (!state.sendFile.IsOpen()) return true;
    uint16_t credit = 0;
    if (!IsShellWritable(nullptr, &credit)) return true;
    state.txCredit.store(credit);
    const char step = state.sendState.load();
    return step == ACTIVATE || step == FINISH || step == REPORT;
}

bool WorkerStep(Core &core, uint8_t &linkState) {
    AppState &state = core.state;
    bool ready = false;
    if (!TakeFrame(core, linkState, ready)) return false;
    if (state.linkMode.load() != LINK_DATA) return ready;
    WatchLinkDuringSend(core, linkState);
    if (linkState == 0) {
        state.lastPollTime.store(core.Now());
        return ready;
    }
    if (NeedStatusPoll(core) && core.Since(state.lastPollTime) >= kStatusPollMs) {
        QueryHostRTxStatus(nullptr);
        state.lastPollTime.store(core.Now());
    }
    if (linkState == 1) SendStep(core);
    return ready;
}

int64_t WorkerWaitMs(Core &core) {
    AppState &state = core.state;
    if (state.linkMode.load() != LINK_DATA) return kNothingDueMs;
    const int64_t now = core.Now();
    int64_t due = now + kLongestWaitMs;
    // Deadlines already past are not waited for: the status poll, or what arrives, takes
    // the step that acts on them.
    const auto before = [&](int64_t deadline) {
        if (deadline > now) due = std::min(due, deadline);
    };
    before(state.lastPollTime.load() + kStatusPollMs);
    if (!state.hostSilent.load()) before(state.lastHeardTime.load() + kSilentLinkMs + 1);
    if (state.ackWaitStart.load() != kLongAgo) before(state.ackWaitStart.load() + kAcknowledgementLimitMs + 1);
    if (state.sendState.load() == ACTIVATE) {
        before(state.stepTime.load() + kActivationRetryMs + 1);
        before(state.passStartTime.load() + kActivationLimitMs + 1);
    }
    if (state.sendState.load() != IDLE || state.disconnectPending.load())
        before(state.stopHostTime.load() + kDisconnectRetryMs + 1);
    return due - now;
}

void Worker::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { WorkerMain(); });
}

void Worker::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
}

void Worker::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wakeSignal_.notify_all();
    WakeShellWaiters();
}

bool Worker::Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void Worker::WaitForWork(int64_t ms) {
    AppState &state = core_.state;
    const int64_t start = core_.Now();
    if (state.linkMode.load() == LINK_WINDOW) {
        // The window reads the link meanwhile: its bytes are not the worker's to wait for.
        // It wakes the worker when it hands the link back, and when a command of its own
        // found the line gone.
        std::unique_lock<std::mutex> lock(mutex_);
        wakeSignal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_ || woken_; });
        woken_ = false;
    } else {
        WaitForShellReadable(static_cast<uint32_t>(ms));
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = false;
    }
    // Waiting on the link is listening to it: only the time spent elsewhere, or beyond
    // the planned wait, counts as a gap in which the host node had nothing to answer.
    state.lastTickTime.fetch_add(std::min(core_.Now() - start, ms));
}

void Worker::WorkerMain() {
    pthread_setname_np(pthread_self(), kWorkerThreadName);  // as top -H and a debugger show it
    RaiseThreadPriority(kWorkerNice);
    WakeOnTime();
    AppState &state = core_.state;
    uint8_t linkState = 0;
    while (!Stopping()) {
        const char step = state.sendState.load();
        const uint32_t done = state.sendDone.load();
        const bool dispatched = WorkerStep(core_, linkState);
        // A packet taken in, a step of the sending or a chunk sent: look again at once,
        // so that a burst is taken in at the speed it arrives and a stream chunk goes out
        // as soon as its room is granted.
        if (dispatched || state.sendState.load() != step || state.sendDone.load() != done) continue;
        WaitForWork(WorkerWaitMs(core_));
    }
}

}  // namespace meradon
