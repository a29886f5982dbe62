#include "sim/output_devices.h"

#include <algorithm>

namespace hostsim {
namespace {

constexpr uint8_t kErased = 0xFF;  // a cleared Flash or EEPROM cell reads all ones

uint16_t Cap16(std::size_t v) { return static_cast<uint16_t>(std::min<std::size_t>(v, 0xFFFF)); }
uint16_t Kib(std::size_t bytes) { return Cap16((bytes + 1023) / 1024); }

}  // namespace

OutputDevices::OutputDevices() : lcd_(kLcdRows, std::string(kLcdColumns, ' ')) {}

uint32_t OutputDevices::Capacity(uint8_t device) {
    switch (device) {
    case kOutFlash: return kFlashCapacity;
    case kOutEeprom: return kEepromCapacity;
    default: return 0;
    }
}

Bytes *OutputDevices::Stream(uint8_t device) {
    switch (device) {
    case kOutUart0: return &uart0_;
    case kOutUart1: return &uart1_;
    case kOutDefault: return &fifo_;
    default: return nullptr;
    }
}

Bytes *OutputDevices::Memory(uint8_t device) {
    switch (device) {
    case kOutFlash: return &flash_;
    case kOutEeprom: return &eeprom_;
    default: return nullptr;
    }
}

bool OutputDevices::Select(uint8_t device, uint32_t setting, uint32_t start) {
    if (!Stream(device) && !Memory(device) && device != kOutLcd) return false;
    selected_ = device;
    setting_ = setting;
    position_ = start;
    return true;
}

bool OutputDevices::Clear(uint8_t device, uint32_t start, uint32_t size) {
    if (Bytes *s = Stream(device)) {
        s->clear();  // a port or queue has no addresses: clearing empties it
        return true;
    }
    if (Bytes *m = Memory(device)) {
        // Memories grow as they are written; cells never written read as erased.
        if (start < m->size()) {
            const std::size_t n = size == kClearAll
                                      ? m->size() - start
                                      : std::min<std::size_t>(size, m->size() - start);
            std::fill_n(m->begin() + start, n, kErased);
        }
        if (size == kClearAll && start == 0) {
            m->clear();
            (device == kOutFlash ? flashUsed_ : eepromUsed_) = 0;
        }
        return true;
    }
    if (device == kOutLcd) {
        // Position row * 65536 + column; clearing runs along the rows.
        std::size_t row = start >> 16, col = start & 0xFFFF;
        std::size_t left = size == kClearAll ? kLcdRows * kLcdColumns : size;
        if (size == kClearAll) row = col = 0;
        for (; row < kLcdRows && left > 0; ++row, col = 0)
            for (; col < kLcdColumns && left > 0; ++col, --left) lcd_[row][col] = ' ';
        return true;
    }
    return false;
}

void OutputDevices::Write(std::span<const uint8_t> data) {
    if (Bytes *s = Stream(selected_)) {
        s->insert(s->end(), data.begin(), data.end());
        return;
    }
    if (Bytes *m = Memory(selected_)) {
        const uint32_t capacity = Capacity(selected_);
        if (position_ >= capacity) return;
        const std::size_t n = std::min<std::size_t>(data.size(), capacity - position_);
        if (m->size() < position_ + n) m->resize(position_ + n, kErased);
        std::copy_n(data.begin(), n, m->begin() + position_);
        position_ += static_cast<uint32_t>(n);
        uint32_t &used = selected_ == kOutFlash ? flashUsed_ : eepromUsed_;
        used = std::max(used, position_);
        return;
    }
    if (selected_ == kOutLcd) {
        for (uint8_t c : data) {
            std::size_t row = position_ >> 16, col = position_ & 0xFFFF;
            if (c == '\n' || col >= kLcdColumns) {
                ++row;
                col = 0;
            }
            if (row >= kLcdRows) return;
            if (c != '\n') lcd_[row][col++] = static_cast<char>(c);
            position_ = static_cast<uint32_t>(row << 16 | col);
        }
    }
}

Bytes OutputDevices::Read(std::size_t count) {
    if (Bytes *s = Stream(selected_)) {
        const std::size_t n = std::min(count, s->size());
        Bytes out(s->begin(), s->begin() + static_cast<std::ptrdiff_t>(n));
        s->erase(s->begin(), s->begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }
    if (Memory(selected_)) {
        const uint32_t capacity = Capacity(selected_);
        if (position_ >= capacity) return {};
        const std::size_t n = std::min<std::size_t>(count, capacity - position_);
        Bytes out = Slice(selected_, position_, n);
        position_ += static_cast<uint32_t>(n);
        return out;
    }
    return {};
}

Bytes OutputDevices::Slice(uint8_t device, uint32_t start, std::size_t count) const {
    const Bytes *m = device == kOutFlash ? &flash_ : device == kOutEeprom ? &eeprom_ : nullptr;
    if (!m) return {};
    Bytes out(count, kErased);
    for (std::size_t i = 0; i < count && start + i < m->size(); ++i) out[i] = (*m)[start + i];
    return out;
}

Bytes OutputDevices::Contents(uint8_t device) const {
    switch (device) {
    case kOutFlash: return flash_;
    case kOutEeprom: return eeprom_;
    case kOutUart0: return uart0_;
    case kOutUart1: return uart1_;
    case kOutDefault: return fifo_;
    case kOutLcd: {
        Bytes out;
        for (const std::string &row : lcd_) {
            if (!out.empty()) out.push_back('\n');
            out.insert(out.end(), row.begin(), row.end());
        }
        return out;
    }
    default: return {};
    }
}

std::pair<uint16_t, uint16_t> OutputDevices::MediaInfo(uint8_t device) const {
    switch (device) {
    case kOutFlash: return {Kib(kFlashCapacity), Kib(flashUsed_)};
    case kOutEeprom: return {Kib(kEepromCapacity), Kib(eepromUsed_)};
    case kOutLcd: return {kLcdRows, kLcdColumns};
    case kOutUart0: return {0, Cap16(uart0_.size())};
    case kOutUart1: return {0, Cap16(uart1_.size())};
    case kOutDefault: return {0, Cap16(fifo_.size())};
    default: return {0, 0};
    }
}

}  // namespace hostsim
