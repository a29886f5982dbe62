#include "link/capture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace tevrolink {
namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond stamps, in the writer's byte order
constexpr uint32_t kLinkTypeRawIpv4 = 101;
constexpr uint32_t kSnapLength = 65535;
constexpr std::size_t kIpHeader = 20;
constexpr std::size_t kUdpHeader = 8;
constexpr std::size_t kLargestDatagram = 65535 - kIpHeader - kUdpHeader;
constexpr uint16_t kPcPort = 10086;
constexpr uint16_t kNodePort = 12580;

sockaddr_in End(const char *address, uint16_t port) {
    sockaddr_in end{};
    end.sin_family = AF_INET;
    end.sin_port = htons(port);
    inet_pton(AF_INET, address, &end.sin_addr);
    return end;
}

void PutBig16(uint8_t *at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

uint16_t Ipv4HeaderChecksum(const uint8_t *header) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < kIpHeader; i += 2) sum += (header[i] << 8) | header[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// The address the system sends from towards `peer`, for a socket bound to any address:
// what a datagram of the link really carried. Left as it is when there is no route.
void FillSourceAddress(sockaddr_in &local, const sockaddr_in &peer) {
    static std::mutex mutex;
    static sockaddr_in lastPeer{};
    static in_addr lastSource{};
    if (local.sin_addr.s_addr != htonl(INADDR_ANY) || peer.sin_port == 0) return;
    std::lock_guard lock(mutex);
    if (lastPeer.sin_addr.s_addr != peer.sin_addr.s_addr || lastPeer.sin_port != peer.sin_port) {
        lastSource.s_addr = htonl(INADDR_ANY);
        const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        socklen_t length = sizeof source;
        if (probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr *>(&source), &length) == 0)
            lastSource = source.sin_addr;
        if (probe >= 0) ::close(probe);
        lastPeer = peer;
    }
    local.sin_addr = lastSource;
}

timespec WallClockNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// What a path is that is no regular file, for the message that refuses it.
const char *NotRegularKind(mode_t mode) {
    return S_ISFIFO(mode) ? "a FIFO" : S_ISCHR(mode) ? "a character device" : S_ISSOCK(mode) ? "a socket"
           : S_ISDIR(mode) ? "a directory" : "a device";
}

// The library's one capture file, opened when the first frame passes.
class LibraryCapture {
public:
    static LibraryCapture &Instance() {
        static LibraryCapture capture;
        return capture;
    }

    bool Wanted() const { return !path_.empty(); }

    void Write(const sockaddr_in &from, const sockaddr_in &to, const uint8_t *bytes,
               std::size_t size, const timespec &at) {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        if (!writer_) {
            writer_ = std::make_unique<PcapWriter>(path_);
            if (writer_->Error()) return Stop();
        }
        if (!writer_->Write(from, to, bytes, size, at)) Stop();
    }

private:
    LibraryCapture() {
        const char *path = std::getenv("TEVROLINK_CAPTURE");
        if (path) path_ = path;
    }

    // Told once; the link itself never notices.
    void Stop() {
        std::fprintf(stderr, "tevrolink: cannot write the capture %s: %s; frames are not captured\n",
                     path_.c_str(), writer_->ErrorText().c_str());
        writer_.reset();
        stopped_ = true;
    }

    std::string path_;
    std::mutex mutex_;
    std::unique_ptr<PcapWriter> writer_;
    bool stopped_ = false;
};

}  // namespace

sockaddr_in SerialPcEnd() { return End("127.0.0.1", kPcPort); }
sockaddr_in SerialNodeEnd() { return End("127.0.0.2", kNodePort); }

PcapWriter::PcapWriter(const std::string &path) {
    // A FIFO without a reader fails the open below with ENXIO, which would say nothing
    // of the cause; one with a reader would end the program by SIGPIPE when it leaves.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error_ = EINVAL;
        notRegular_ = NotRegularKind(st.st_mode);
        return;
    }
    // O_NONBLOCK keeps the open of a FIFO made since from hanging; it is refused below.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    if (fstat(fd_, &st) != 0) {
        error_ = errno;
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = EINVAL;
        notRegular_ = NotRegularKind(st.st_mode);
        return;
    }
    const uint32_t header[6] = {kPcapMagic, 2u | (4u << 16), 0, 0, kSnapLength, kLinkTypeRawIpv4};
    if (::write(fd_, header, sizeof header) != static_cast<ssize_t>(sizeof header))
        error_ = errno ? errno : EIO;
}

std::string PcapWriter::ErrorText() const {
    if (notRegular_) return std::string("it is ") + notRegular_ + ", not a regular file";
    return std::strerror(error_);
}

PcapWriter::~PcapWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool PcapWriter::Write(const sockaddr_in &from, const sockaddr_in &to, const uint8_t *bytes,
                       std::size_t size, const timespec &at) {
    if (error_) return false;
    if (size > kLargestDatagram) size = kLargestDatagram;
    const uint32_t total = static_cast<uint32_t>(kIpHeader + kUdpHeader + size);
    const uint32_t record[4] = {static_cast<uint32_t>(at.tv_sec), static_cast<uint32_t>(at.tv_nsec / 1000),
                                total, total};
    uint8_t ip[kIpHeader + kUdpHeader] = {};
    ip[0] = 0x45;  // version 4, five words of header
    PutBig16(ip + 2, static_cast<uint16_t>(total));
    ip[8] = 64;             // time to live
    ip[9] = IPPROTO_UDP;
    std::memcpy(ip + 12, &from.sin_addr, 4);
    std::memcpy(ip + 16, &to.sin_addr, 4);
    PutBig16(ip + 10, Ipv4HeaderChecksum(ip));
    uint8_t *udp = ip + kIpHeader;
    std::memcpy(udp, &from.sin_port, 2);
    std::memcpy(udp + 2, &to.sin_port, 2);
    PutBig16(udp + 4, static_cast<uint16_t>(kUdpHeader + size));  // checksum 0: not computed

    iovec parts[3] = {{const_cast<uint32_t *>(record), sizeof record},
                      {ip, sizeof ip},
                      {const_cast<uint8_t *>(bytes), size}};
    const ssize_t want = static_cast<ssize_t>(sizeof record + sizeof ip + size);
    errno = 0;
    if (::writev(fd_, parts, 3) != want) {
        error_ = errno ? errno : ENOSPC;
        return false;
    }
    return true;
}

void CaptureSerialFrame(bool fromNode, const uint8_t *frame, std::size_t size) {
    LibraryCapture &capture = LibraryCapture::Instance();
    if (!capture.Wanted()) return;
    const sockaddr_in pc = SerialPcEnd(), node = SerialNodeEnd();
    capture.Write(fromNode ? node : pc, fromNode ? pc : node, frame, size, WallClockNow());
}

void CaptureUdpFrame(int fd, const sockaddr_in &peer, bool received, const uint8_t *bytes,
                     std::size_t size) {
    LibraryCapture &capture = LibraryCapture::Instance();
    if (!capture.Wanted()) return;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    FillSourceAddress(local, peer);
    timespec at = WallClockNow();
    // The kernel's stamp of the datagram's arrival, rather than the moment a poll took it;
    // the first call only switches the stamping on.
    if (received) ioctl(fd, SIOCGSTAMPNS, &at);
    capture.Write(received ? peer : local, received ? local : peer, bytes, size, at);
}

}  // namespace tevrolink
