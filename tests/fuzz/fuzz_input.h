// The fuzzer's bytes read front to back. Once they run out every read gives zeros, so a
// short input still drives a whole step and the targets need no length checks of their own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, std::size_t size) : data_(data), left_(size) {}

    bool Empty() const { return left_ == 0; }

    uint8_t Byte() {
        if (left_ == 0) return 0;
        --left_;
        return *data_++;
    }

    uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }

    // Copies `size` bytes into `dst`, zeros where the input has run out.
    void Fill(uint8_t *dst, std::size_t size) {
        const std::size_t n = std::min(size, left_);
        if (n) std::memcpy(dst, data_, n);
        if (n < size) std::memset(dst + n, 0, size - n);
        data_ += n;
        left_ -= n;
    }

private:
    const uint8_t *data_;
    std::size_t left_;
};

// Where TouchBytes leaves its sum, so that the compiler keeps the reads.
inline volatile uint8_t touchedSum;

// Reads every byte of a range the library handed out, so that the address sanitizer
// checks that all of it may be read.
inline void TouchBytes(const uint8_t *bytes, std::size_t size) {
    uint8_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    touchedSum = sum;
}

}  // namespace fuzz
