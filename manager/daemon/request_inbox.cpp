#include "manager/daemon/request_inbox.h"

#include <utility>

#include "manager/daemon/journal_log.h"

namespace meradon::daemon {

RequestInbox::RequestInbox(Answer answer, std::function<void()> wake)
    : answer_(std::move(answer)), wake_(std::move(wake)) {}

void RequestInbox::Take(std::string_view command, std::string_view payload) {
    ReadRequest read = ParseRequest(command, payload);
    if (!read.request) {
        Refuse(std::string(command), read);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.size() < kMostWaiting) {
            waiting_.push_back(std::move(*read.request));
            read.request.reset();
        }
    }
    if (read.request) {
        read.error = "busy: too many requests are waiting";
        Refuse(read.request->command, read);
        return;
    }
    wake_();
}

std::vector<BridgeRequest> RequestInbox::Drain() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<BridgeRequest> taken(std::make_move_iterator(waiting_.begin()),
                                     std::make_move_iterator(waiting_.end()));
    waiting_.clear();
    return taken;
}

// Answered when the id could be read. Without one nobody can be answered: a log line,
// the first at once and then one a second at most, with the count of those in between.
void RequestInbox::Refuse(const std::string &command, const ReadRequest &read) {
    if (read.id) {
        answer_(command, ResponsePayload(*read.id, false, read.error));
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++unanswered_;
        if (now < nextLog_) return;
        count = std::exchange(unanswered_, 0);
        nextLog_ = now + std::chrono::seconds(1);
    }
    // The command is the topic's last level, up to 64 KiB of anybody's text: cut short,
    // and without control characters, so that it cannot forge lines of the log.
    std::string shown = command.substr(0, 64);
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    Log(LogLevel::Warning, "MQTT request on request/" + shown + " refused: " + read.error +
                               (count > 1 ? " (" + std::to_string(count) + " refused since the last such line)" : ""));
}

}  // namespace meradon::daemon
