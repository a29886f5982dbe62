// Monotonic milliseconds for every elapsed-time measure of the link.
#pragma once

#include <chrono>
#include <cstdint>

namespace tevrolink {

inline int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace tevrolink
