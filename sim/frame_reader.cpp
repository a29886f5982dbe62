#include "sim/frame_reader.h"

#include <algorithm>

namespace hostsim {

void FrameReader::Feed(const uint8_t *data, std::size_t size, Clock::time_point now,
                       std::vector<Bytes> &out) {
    Expire(now, out);
    pending_.insert(pending_.end(), data, data + size);
    if (size > 0) lastInput_ = now;
    Scan(out);
}

void FrameReader::Expire(Clock::time_point now, std::vector<Bytes> &out) {
    while (!pending_.empty() && now - lastInput_ >= kStaleCandidate) {
        pending_.erase(pending_.begin());
        ++discarded_;
        Scan(out);
    }
}

Clock::time_point FrameReader::StaleAt() const {
    return pending_.empty() ? Clock::time_point::max() : lastInput_ + kStaleCandidate;
}

void FrameReader::Scan(std::vector<Bytes> &out) {
    std::size_t start = 0;
    for (;;) {
        const auto sync = std::find(pending_.begin() + static_cast<std::ptrdiff_t>(start),
                                    pending_.end(), tevrolink::kSyncByte);
        const std::size_t at = static_cast<std::size_t>(sync - pending_.begin());
        discarded_ += at - start;
        start = at;
        if (pending_.size() - start < kPayload) break;
        const std::size_t whole = kPayload + pending_[start + kLength];
        if (pending_.size() - start < whole) break;
        if (tevrolink::CheckLinkFrame(pending_.data() + start)) {
            out.emplace_back(pending_.begin() + static_cast<std::ptrdiff_t>(start),
                             pending_.begin() + static_cast<std::ptrdiff_t>(start + whole));
            start += whole;
        } else {
            ++discarded_;
            ++start;
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
}

}  // namespace hostsim
