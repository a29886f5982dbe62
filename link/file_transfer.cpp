#include "link/file_transfer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "link/commands.h"
#include "link/frame.h"
#include "link/shell.h"
#include "link/streams.h"
#include "tevrolink/tevrolink.h"

namespace tevrolink {
namespace {

constexpr int kFlashDevice = 0x01;
constexpr uint32_t kFlashSetting = 0;
constexpr int kUploadBufferSize = 280;
constexpr int kUploadFailureLimit = 16;
constexpr int kFileDataKind = TEVROLINK_KIND_FILE;
constexpr int kFirstChunk = TEVROLINK_FLAG_FIRST;
constexpr int kLastChunk = TEVROLINK_FLAG_LAST;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for reading and finds its size; null for a file that cannot be opened or
// is empty (nothing is sent for either).
File OpenSource(const char *path, uint32_t &size) {
    if (!path) return nullptr;
    File file(std::fopen(path, "rb"));
    if (!file) return nullptr;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return nullptr;
    const long end = std::ftell(file.get());
    if (end <= 0 || end > 0xFFFFFFFFL) return nullptr;
    size = static_cast<uint32_t>(end);
    std::rewind(file.get());
    return file;
}

// A read leaves the link awaiting an acknowledgement; any other state means a sync exchange
// came in meanwhile: the host node started afresh, and its answer may be to a repeat of the
// request that it took for a new one, from a read position already moved on.
bool ReadAnswerTrusted() { return TheShell().linkState == kLinkAwaitingAck; }

}  // namespace

void PrintProgress(uint64_t transferred, uint64_t total) {
    if (total == 0) return;
    const uint64_t perMille = transferred * 1000 / total;
    // The figure is computed in single precision, as the figures have always been shown.
    const float percent = static_cast<float>(perMille) * 0.1f;
    const char *format = "%3.1f%%\b\b\b\b";
    if (perMille >= 1000)
        format = "%5.1f%%\b\b\b\b\b\b";
    else if (perMille >= 100)
        format = "%4.1f%%\b\b\b\b\b";
    std::printf(format, static_cast<double>(percent));
    std::fflush(stdout);
}

int DownloadFileToHost(uint32_t position, const char *path) {
    uint32_t size = 0;
    File file = OpenSource(path, size);
    if (!file) return 0;
    // Without the host node's word that its Flash is selected at `position`, the bytes may
    // be anywhere: they are sent all the same, but not counted as placed.
    const bool selected = SetHostNodeOutputFile(kFlashDevice, kFlashSetting, position) == 1;
    uint32_t transferred = 0;
    bool refused = false;
    uint8_t chunk[kFramePayload];
    while (transferred < size) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        if (n == 0) break;
        transferred += static_cast<uint32_t>(n);
        PrintProgress(transferred, size);
        if (!SendPacketToHostNode(chunk, static_cast<uint32_t>(n))) {
            refused = true;
            break;
        }
        if (n < sizeof chunk) break;
    }
    return transferred == size && !refused && selected ? 1 : 0;
}

int DownloadFileToNetwork(int peer, uint32_t position, const char *path) {
    uint32_t size = 0;
    File file = OpenSource(path, size);
    if (!file) return 0;
    WaitForShellWritable(nullptr);
    SetPeerNodeOutputFile(peer, kFlashDevice, kFlashSetting, position);

    uint32_t transferred = 0;
    uint8_t chunk[kFramePayload];
    while (transferred < size) {
        uint16_t room = 0;
        if (WaitForShellWritable(&room) & 0x04) break;  // suspended, or the link is lost
        int flags = std::ftell(file.get()) == 0 ? kFirstChunk : 0;
        const std::size_t n = std::fread(chunk, 1, room, file.get());
        if (std::ferror(file.get())) break;
        const bool atEnd = std::feof(file.get()) != 0;
        if (atEnd || transferred + n >= size) flags |= kLastChunk;
        // A chunk counts only once the host node has taken it.
        if (!WriteStreamToShell(chunk, static_cast<uint32_t>(n), peer, kFileDataKind, flags)) break;
        transferred += static_cast<uint32_t>(n);
        PrintProgress(transferred, size);
        if (atEnd) break;
    }
    // The last frame is delivered only when the host node has acknowledged it.
    const bool delivered = transferred == size && WaitForAcknowledgement();
    return delivered ? 1 : 0;
}

int UploadFileFromHost(uint32_t position, uint32_t size, const char *path) {
    if (size == 0 || !path) return 0;
    File file(std::fopen(path, "wb"));
    if (!file) return 0;
    // The host node's read position is known only once it has confirmed a selection;
    // a read from an unknown position would put other bytes in the file.
    bool positioned = SetHostNodeOutputFile(kFlashDevice, kFlashSetting, position) == 1;
    uint32_t received = 0;
    int failures = 0;
    uint8_t buffer[kUploadBufferSize];
    while (received < size) {
        std::memset(buffer, 0, sizeof buffer);
        if (failures >= kUploadFailureLimit) break;
        if (!positioned) {
            ++failures;
            positioned = SetHostNodeOutputFile(kFlashDevice, kFlashSetting, position) == 1;
            continue;
        }
        const uint32_t want = std::min<uint32_t>(kFramePayload, size - received);
        const int got = RecvPacketFromHostNode(buffer, sizeof buffer, want);
        if (got != static_cast<int>(want) || !ReadAnswerTrusted()) {
            ++failures;
            positioned = SetHostNodeOutputFile(kFlashDevice, kFlashSetting, position) == 1;
            continue;
        }
        failures = 0;
        if (std::fwrite(buffer, 1, want, file.get()) != want) break;
        received += want;
        position += want;
        PrintProgress(received, size);
    }
    const bool written = std::fflush(file.get()) == 0;
    return received == size && written ? 1 : 0;
}

}  // namespace tevrolink
