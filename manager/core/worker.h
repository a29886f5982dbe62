// The worker thread: sleeps until the link has something for it or its next deadline is
// due, dispatches what arrives, watches the link during a sending, polls the host node's
// status when nothing else does, and advances the file sending.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kStatusPollMs = 250;
// The longest the worker sleeps in data transfer mode with nothing due; a clock that jumps
// ahead (as tests make it) is noticed within this.
constexpr int64_t kLongestWaitMs = kStatusPollMs;
// How long it sleeps in the other modes, where nothing of its own falls due: what arrives
// on the link, the window handing the link over or finding it gone, wake it.
constexpr int64_t kNothingDueMs = 3'600'000;

constexpr char kWorkerThreadName[] = "meradon worker";

// One pass of the worker loop. True when a packet was dispatched. `linkState` receives the
// link state the pass saw (left as it is when the pass did not poll).
bool WorkerStep(Core &core, uint8_t &linkState);
// True when the worker must ask for the host node's status itself, because no chunks
// flowing would bring status reports. Refreshes `txCredit` while a file is open.
bool NeedStatusPoll(Core &core);
// How long the worker may sleep before its next deadline in data transfer mode: the status
// poll, the host node's silence, an overdue acknowledgement, the sending's activation and
// disconnect retries, at most kLongestWaitMs; kNothingDueMs in the other modes.
int64_t WorkerWaitMs(Core &core);

class Worker {
public:
    explicit Worker(Core &core) : core_(core) {}
    ~Worker() { Stop(); }

    void Start();
    // Ends the loop and joins the thread. The core's blocking requests must have been
    // released first, or a worker waiting on the window would never see the stop.
    void Stop();
    // Ends the worker's sleep: the window has armed, cancelled or handed over something.
    void Wake();

private:
    void WorkerMain();
    bool Stopping();
    void WaitForWork(int64_t ms);

    Core &core_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wakeSignal_;
    bool stopping_ = false;
    bool woken_ = false;
};

}  // namespace meradon
