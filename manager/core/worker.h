// The worker thread: polls the open link about once a millisecond (less often while the
// stations are quiet, see TickMs), dispatches what arrives, watches the link during a
// sending, polls the host node's status when nothing else does, and advances the file
// sending.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kStatusPollMs = 250;

// One pass of the worker loop. True when a packet was dispatched. `linkState` receives the
// link state the pass saw (left as it is when the pass did not poll).
bool WorkerStep(Core &core, uint8_t &linkState);
// True when the worker must ask for the host node's status itself, because no chunks
// flowing would bring status reports. Refreshes `txCredit` while a file is open.
bool NeedStatusPoll(Core &core);

class Worker {
public:
    explicit Worker(Core &core) : core_(core) {}
    ~Worker() { Stop(); }

    void Start();
    // Ends the loop and joins the thread. The core's blocking requests must have been
    // released first, or a worker waiting on the window would never see the stop.
    void Stop();

private:
    void WorkerMain();

    Core &core_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
};

}  // namespace meradon
