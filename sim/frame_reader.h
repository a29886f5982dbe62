// Reassembles link frames from a serial byte stream, the way the PC side does: hunt for
// the sync byte, take 7 more header bytes, then the payload its length byte announces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/wire.h"

namespace hostsim {

// A frame's bytes follow each other without pause; a candidate still incomplete this long
// after the last byte arrived began at a false sync byte (or lost its tail).
constexpr auto kStaleCandidate = Millis(50);

class FrameReader {
public:
    // Appends every complete frame with a valid CRC to `out`. A candidate whose CRC fails
    // was a false sync byte or a damaged frame: the hunt resumes with the byte after its
    // sync byte, so a real frame hidden inside the candidate is still found.
    void Feed(const uint8_t *data, std::size_t size, Clock::time_point now,
              std::vector<Bytes> &out);
    // Gives up a stale incomplete candidate (see kStaleCandidate) and hunts again in the
    // bytes behind its sync byte, where its false length may have hidden real frames.
    void Expire(Clock::time_point now, std::vector<Bytes> &out);
    // When Expire next has work; time_point::max() when nothing waits.
    Clock::time_point StaleAt() const;
    void Reset() { pending_.clear(); }
    // Bytes thrown away so far (noise before a sync byte, rejected candidates).
    std::size_t DiscardedBytes() const { return discarded_; }
    std::size_t PendingBytes() const { return pending_.size(); }

private:
    void Scan(std::vector<Bytes> &out);

    Bytes pending_;
    Clock::time_point lastInput_{};
    std::size_t discarded_ = 0;
};

}  // namespace hostsim
