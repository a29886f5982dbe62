#include "sim/transmit_buffer.h"

#include <algorithm>
#include <chrono>

namespace hostsim {
namespace {

// While data waits, the radio works in steps of this length.
constexpr auto kDrainStep = std::chrono::milliseconds(5);

}  // namespace

bool TransmitBuffer::Push(uint8_t destination, uint8_t attribute,
                          std::span<const uint8_t> payload, Clock::time_point now) {
    if (!Fits(payload.size())) return false;
    if (queue_.empty()) {
        lastDrain_ = now;  // an idle radio has saved no time to spend
        carry_ = 0;
    }
    queue_.push_back(QueuedPacket{destination, attribute, Bytes(payload.begin(), payload.end()),
                                  payload.size()});
    fill_ += payload.size();
    return true;
}

void TransmitBuffer::Drain(Clock::time_point now, const Deliver &deliver) {
    if (queue_.empty() || rate_ == 0 || now <= lastDrain_) return;
    const double seconds = std::chrono::duration<double>(now - lastDrain_).count();
    lastDrain_ = now;
    carry_ += seconds * rate_;
    while (!queue_.empty()) {
        QueuedPacket &head = queue_.front();
        const std::size_t step = std::min<std::size_t>(head.unsent, static_cast<std::size_t>(carry_));
        head.unsent -= step;
        fill_ -= step;
        carry_ -= static_cast<double>(step);
        if (head.unsent > 0) break;
        const QueuedPacket done = std::move(head);
        queue_.pop_front();
        deliver(done);
    }
    if (queue_.empty()) carry_ = 0;
}

Clock::time_point TransmitBuffer::NextDue(Clock::time_point now) const {
    if (queue_.empty() || rate_ == 0) return Clock::time_point::max();
    return std::max(now, lastDrain_ + kDrainStep);
}

void TransmitBuffer::Clear() {
    queue_.clear();
    fill_ = 0;
    carry_ = 0;
}

}  // namespace hostsim
