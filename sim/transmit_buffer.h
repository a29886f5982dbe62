// The host node's transmit buffer: stream data from the PC waits here until the radio has
// sent it to its station(s). Its fill and free space are what status reports announce.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>

#include "sim/wire.h"

namespace hostsim {

struct QueuedPacket {
    uint8_t destination = 0;  // station, or 0 for the active stations
    uint8_t attribute = 0;
    Bytes payload;
    std::size_t unsent = 0;   // payload bytes the radio has not sent yet
};

class TransmitBuffer {
public:
    using Deliver = std::function<void(const QueuedPacket &)>;

    // Room for a packet of `bytes` payload bytes.
    bool Fits(std::size_t bytes) const { return fill_ + bytes <= size_; }
    // Queues a packet; false (nothing queued) when it does not fit.
    bool Push(uint8_t destination, uint8_t attribute, std::span<const uint8_t> payload,
              Clock::time_point now);
    // Sends what the drain rate allows since the last call; `deliver` sees each packet
    // once its last byte has gone.
    void Drain(Clock::time_point now, const Deliver &deliver);
    // Next moment Drain has work, or time_point::max().
    Clock::time_point NextDue(Clock::time_point now) const;
    void Clear();

    uint16_t Size() const { return static_cast<uint16_t>(size_); }
    uint16_t Fill() const { return static_cast<uint16_t>(fill_); }
    uint16_t Credit() const { return static_cast<uint16_t>(size_ - fill_); }
    std::size_t Packets() const { return queue_.size(); }

    void SetSize(uint16_t size) { size_ = std::max<std::size_t>(size, fill_); }
    // Bytes per second the radio sends; 0 holds everything in the buffer.
    void SetDrainRate(uint32_t bytesPerSecond) { rate_ = bytesPerSecond; }
    uint32_t DrainRate() const { return rate_; }

private:
    std::deque<QueuedPacket> queue_;
    std::size_t size_ = 2048;
    std::size_t fill_ = 0;
    uint32_t rate_ = 16000;
    double carry_ = 0;  // fraction of a byte the rate has earned but not yet spent
    Clock::time_point lastDrain_{};
};

}  // namespace hostsim
