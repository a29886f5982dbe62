#include "link/serial_port.h"

// termios2 (any bit rate through BOTHER) comes from the kernel headers, which cannot be
// mixed with <termios.h>; this file uses only the kernel's definitions.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/capture.h"
#include "link/frame.h"
#include "link/shell.h"

namespace tevrolink {
namespace {

bool ConfigureLine(int fd, uint32_t baudRate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK | IUCLC);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL | CBAUD |
                                          (CBAUD << IBSHIFT));
    tio.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baudRate;
    tio.c_ospeed = baudRate;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

void SleepUs(long us) {
    struct timespec ts {us / 1000000, (us % 1000000) * 1000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

class SerialLink final : public Transport {
public:
    SerialLink(int fd, uint32_t baudRate) : fd_(fd), baudRate_(baudRate ? baudRate : 1) {}
    ~SerialLink() override {
        // The exclusive flag outlives this descriptor while another process holds the tty.
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    int Descriptor() const override { return fd_; }

    void SendFrame(const uint8_t *frame, std::size_t size) override {
        CaptureSerialFrame(false, frame, size);
        WriteAll(frame, kFrameHeader);
        if (size > kFrameHeader) WriteAll(frame + kFrameHeader, size - kFrameHeader);
    }

    bool PollFrame(ShellPort &port) override {
        uint8_t *buf = port.rxBuffer;
        if (port.rxState == kRxComplete || port.rxState == kRxReset) {
            std::memset(buf, 0, kReceiveBufferSize);
            port.rxState = kRxHunting;
            port.rxFill = 0;
        }
        int queued = Queued();
        if (queued <= 0) return false;
        switch (port.rxState) {
        case kRxHunting:
            while (queued-- > 0) {
                if (!ReadExactly(buf, 1)) return false;
                if (buf[kSync] == kSyncByte) {
                    port.rxState = kRxSynced;
                    port.rxFill = 1;
                    break;
                }
            }
            return false;
        case kRxSynced:
            if (!ReadUpTo(port, kFrameHeader, queued)) return false;
            port.rxState = kRxHeader;
            if (buf[kLength] != 0) return false;
            return Judge(port);
        case kRxHeader:
            if (!ReadUpTo(port, kFrameHeader + buf[kLength], queued)) return false;
            return Judge(port);
        default:
            return Reject(port);
        }
    }

    void WaitForInput(const ShellPort &port, int timeoutMs) override {
        if (timeoutMs <= 0) return;
        const long delayUs = InputDelayUs(port);
        if (delayUs > 0) SleepUs(std::min(delayUs, timeoutMs * 1000L));
        if (delayUs >= 0) return;
        struct pollfd pfd {fd_, POLLIN, 0};
        // A hung-up line reports POLLHUP at once and forever; the shell closes on it.
        if (poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            hungUp_ = true;
    }

    long InputDelayUs(const ShellPort &port) override {
        if (hungUp_) return 0;
        const int queued = Queued();
        if (queued <= 0) return -1;
        const long missing = static_cast<long>(BytesToGo(port)) - queued;
        // A tty wakes no poll() while bytes wait unread: the queued part of a frame is read
        // once all but the last missing byte have had their line time, and the poll that
        // follows wakes as the last one comes.
        if (missing <= 1) return 0;
        return std::max((missing - 1) * 10'000'000L / static_cast<long>(baudRate_), 50L);
    }

    bool HungUp() const override { return hungUp_; }

private:
    int Queued() {
        int n = 0;
        if (ioctl(fd_, FIONREAD, &n) != 0) {
            NoteFailure(errno);
            return 0;
        }
        return n;
    }

    // The errors of a line that is gone: a hung-up tty answers every read, write and
    // ioctl with EIO; a removed device with ENXIO or ENODEV.
    void NoteFailure(int error) {
        if (error == EIO || error == ENXIO || error == ENODEV) hungUp_ = true;
    }

    // Bytes the receive state still needs before it can move on.
    static std::size_t BytesToGo(const ShellPort &port) {
        if (port.rxState == kRxSynced) return kFrameHeader - port.rxFill;
        if (port.rxState == kRxHeader) return kFrameHeader + port.rxBuffer[kLength] - port.rxFill;
        return 1;
    }

    // Reads what is queued of the frame up to `end` bytes; true once it has them all.
    bool ReadUpTo(ShellPort &port, std::size_t end, int queued) {
        const std::size_t take = std::min<std::size_t>(end - port.rxFill, static_cast<std::size_t>(queued));
        if (!ReadExactly(port.rxBuffer + port.rxFill, take)) return Reject(port);
        port.rxFill = static_cast<uint16_t>(port.rxFill + take);
        return port.rxFill == end;
    }

    bool ReadExactly(uint8_t *dst, std::size_t size) {
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(fd_, dst + got, size - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0) NoteFailure(errno);
                return false;
            }
        }
        return true;
    }

    void WriteAll(const uint8_t *src, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, src + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0) NoteFailure(errno);
                return;
            }
        }
    }

    static bool Judge(ShellPort &port) {
        CaptureSerialFrame(true, port.rxBuffer, kFrameHeader + port.rxBuffer[kLength]);
        if (CheckLinkFrame(port.rxBuffer)) {
            port.rxState = kRxComplete;
            return true;
        }
        return Reject(port);
    }

    static bool Reject(ShellPort &port) {
        port.ResetReceive();
        return false;
    }

    int fd_;
    uint32_t baudRate_;
    bool hungUp_ = false;
};

}  // namespace

std::string SerialDevicePath(const char *name) {
    if (name[0] == '/') return name;
    return std::string("/dev/") + name;
}

std::unique_ptr<Transport> OpenSerialPort(const char *name, uint32_t baudRate) {
    if (!name || !*name) {
        errno = ENOENT;
        return nullptr;
    }
    const std::string path = SerialDevicePath(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Another program holding the port's lock makes the open fail with EBUSY. The lock
    // comes first so that a port held elsewhere is never marked exclusive by us.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    if (!ConfigureLine(fd, baudRate)) {
        const int err = errno;
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        errno = err;
        return nullptr;
    }
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);  // a pty has no modem lines; that is not an error
    ioctl(fd, TCFLSH, TCIOFLUSH);
    return std::make_unique<SerialLink>(fd, baudRate);
}

}  // namespace tevrolink
