// A request the worker hands to the window thread and waits for: a command until the
// window has run it (never a person's answer). The wait ends when the
// window answers or when the manager shuts down; after shutdown no request waits at all,
// so the worker can always be joined.
#pragma once

#include <condition_variable>
#include <mutex>

namespace meradon {

class WindowRequest {
public:
    // Calls `ask` (which hands the request to the window; the window may answer before
    // `ask` returns) and waits for the answer. False when shutdown ended the wait.
    template <typename Ask>
    bool AskAndWait(Ask ask) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (released_) return false;
            pending_ = true;
        }
        ask();
        std::unique_lock<std::mutex> lock(mutex_);
        answered_.wait(lock, [this] { return !pending_ || released_; });
        bool answered = !pending_;
        pending_ = false;
        return answered;
    }

    // Window thread: the request has been dealt with.
    void Answer();
    // Shutdown: ends the current wait and refuses later ones.
    void Release();

private:
    std::mutex mutex_;
    std::condition_variable answered_;
    bool pending_ = false;
    bool released_ = false;
};

}  // namespace meradon
