// Who may use the link (LINK_* of app_state.h), shared by the window and the worker. Every
// change of it hands the link from one to the other, so it calls a hook that wakes the
// worker: while the window holds the link the worker sleeps until it is given back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace meradon {

class LinkMode {
public:
    explicit LinkMode(uint8_t mode) : mode_(mode) {}
    LinkMode(const LinkMode &) = delete;
    LinkMode &operator=(const LinkMode &) = delete;

    uint8_t load() const { return mode_.load(); }
    void store(uint8_t mode) {
        if (mode_.exchange(mode) != mode && handedOver_) handedOver_();
    }
    LinkMode &operator=(uint8_t mode) {
        store(mode);
        return *this;
    }
    // Set once, before another thread uses the mode.
    void OnHandOver(std::function<void()> hook) { handedOver_ = std::move(hook); }

private:
    std::atomic<uint8_t> mode_;
    std::function<void()> handedOver_;
};

}  // namespace meradon
