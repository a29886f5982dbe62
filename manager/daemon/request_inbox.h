// Requests on their way from the MQTT client's thread to the main loop. A request that
// cannot be read is refused on the client's thread at once (answered when its id could be
// read, else a log line at most once a second with a count), so that a flood of bad
// requests never reaches the main loop; the readable ones wait here, at most kMostWaiting,
// and beyond that are refused as busy. The main loop is woken for each one taken.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "manager/daemon/bridge_request.h"

namespace meradon::daemon {

class RequestInbox {
public:
    // `answer` publishes a response payload on response/<command>; `wake` wakes the main
    // loop. Both are called on the client's thread.
    using Answer = std::function<void(const std::string &command, const std::string &payload)>;
    RequestInbox(Answer answer, std::function<void()> wake);

    // Client's thread: reads the request and keeps it for the main loop, or refuses it.
    void Take(std::string_view command, std::string_view payload);
    // Main loop: the requests taken since the last call, in order.
    std::vector<BridgeRequest> Drain();

    static constexpr std::size_t kMostWaiting = 64;

private:
    void Refuse(const std::string &command, const ReadRequest &read);

    Answer answer_;
    std::function<void()> wake_;
    std::mutex mutex_;
    std::deque<BridgeRequest> waiting_;
    // Refusals without an id since the last log line, and when the next line may be written.
    std::size_t unanswered_ = 0;
    std::chrono::steady_clock::time_point nextLog_{};
};

}  // namespace meradon::daemon
