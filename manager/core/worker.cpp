#include "manager/core/worker.h"

#include <chrono>

#include "manager/core/dispatch.h"
#include "manager/core/link_watch.h"
#include "manager/core/priority.h"
#include "manager/core/send_watch.h"
#include "manager/core/sending.h"
#include "manager/core/tick_pace.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {
constexpr uint8_t kLinkAwaitingAck = 2;
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
    if (state.linkMode.load() == LINK_WINDOW) {
        state.lastPollTime.store(core.Now());
        WatchLinkEnd(core);  // a command of the window may have found the line gone
        return false;
    }
    linkState = 0;
    const bool ready = IsShellReadable(&linkState, nullptr) != 0;
    if (ready) NoteLinkHeard(core);
    if (WatchLinkEnd(core)) return false;
    if (state.linkMode.load() == LINK_NO_MODE) {  // poll to keep the link, drop the packet
        state.lastPollTime.store(core.Now());
        return false;
    }
    if (ready) DispatchPacket(core);
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
    stopSignal_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Worker::WorkerMain() {
    RaiseThreadPriority(kWorkerNice);
    bool busy = false;
    int64_t tickMs = kBusyTickMs;
    uint8_t linkState = 0;
    for (;;) {
        {
            // One tick between polls; while packets keep coming, poll again at once so that
            // a burst is taken in at the speed it arrives.
            std::unique_lock<std::mutex> lock(mutex_);
            if (!busy) stopSignal_.wait_for(lock, std::chrono::milliseconds(tickMs), [this] { return stopping_; });
            if (stopping_) return;
        }
        busy = WorkerStep(core_, linkState);
        // A frame that awaits its acknowledgement (a request of the window's) holds the
        // link until the acknowledgement is taken in.
        tickMs = linkState == kLinkAwaitingAck ? kBusyTickMs : TickMs(core_);
    }
}

}  // namespace meradon
