#include "sim/file_assembler.h"

#include "link/checksum.h"

namespace hostsim {

void FileAssembler::OnPacket(uint8_t flags, std::span<const uint8_t> payload) {
    if (flags & kFlagInfo) {
        // A new announcement abandons a file that never got its tail.
        current_.emplace();
        if (payload.size() >= 8) {
            current_->announced = true;
            current_->announcedSize = ReadLe32(payload.data());
            current_->announcedCrc = ReadLe32(payload.data() + 4);
        }
        return;
    }
    if (flags & kFlagHead) {
        if (!current_) current_.emplace();  // a head without information still starts a file
        current_->data.clear();
    }
    if (!current_) {
        ++stray_;
        return;
    }
    current_->data.insert(current_->data.end(), payload.begin(), payload.end());
    if (flags & kFlagTail) {
        ReceivedFile &f = *current_;
        f.sizeOk = f.announced && f.data.size() == f.announcedSize;
        f.crcOk = f.announced && tevrolink::Crc32(f.data.data(), f.data.size()) == f.announcedCrc;
        finished_.push_back(std::move(f));
        current_.reset();
    }
}

}  // namespace hostsim
