#include "sim/pty_endpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "sim/pty_line_speed.h"

namespace hostsim {
namespace {

// Output the PC does not read is kept up to this much, then new frames are dropped, as a
// real line loses what nobody listens to.
constexpr std::size_t kOutQueueLimit = 64 * 1024;

[[noreturn]] void Fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyEndpoint::PtyEndpoint(const PtyOptions &options) : options_(options) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) Fail("posix_openpt");
    char name[256] = {};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        const int err = errno;
        ::close(master_);
        errno = err;
        Fail("pty set-up");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        const int err = errno;
        ::close(master_);
        errno = err;
        Fail("open " + slavePath_);
    }
    // Raw from the start: no echo back into the master, no newline translation, before the
    // PC has configured the line itself.
    struct termios tio {};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    if (!options_.linkPath.empty()) {
        struct stat st {};
        if (lstat(options_.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(options_.linkPath.c_str());
        if (::symlink(slavePath_.c_str(), options_.linkPath.c_str()) != 0) {
            const int err = errno;
            ::close(slave_);
            ::close(master_);
            errno = err;
            Fail("symlink " + options_.linkPath);
        }
    }
}

PtyEndpoint::~PtyEndpoint() {
    if (!options_.linkPath.empty()) ::unlink(options_.linkPath.c_str());
    ::close(slave_);
    ::close(master_);
}

uint32_t PtyEndpoint::LineSpeed() const { return SlaveLineSpeed(master_); }

bool PtyEndpoint::Answering() { return options_.baud == 0 || LineSpeed() == options_.baud; }

void PtyEndpoint::ReadFrames(std::vector<IncomingFrame> &out) {
    uint8_t buf[1024];
    std::vector<Bytes> frames;
    const bool answering = Answering();
    const auto now = Clock::now();
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        reader_.Feed(buf, static_cast<std::size_t>(n), now, frames);
    }
    reader_.Expire(now, frames);
    // At the wrong speed a real node would sample garbage. The frames are still handed on,
    // marked, so that a test can see what the PC tried; the node does not act on them.
    const Clock::duration byteTime = ByteTime();
    for (Bytes &f : frames) {
        // The bytes reached the pty at once; on a real line the frame ends its line time
        // after the line was last free.
        lineInFree_ = std::max(lineInFree_, now) + byteTime * static_cast<long>(f.size());
        inFlight_.push_back(InFlight{lineInFree_, IncomingFrame{std::move(f), true, !answering}});
    }
    ReleaseArrived(now, out);
}

void PtyEndpoint::ReleaseArrived(Clock::time_point now, std::vector<IncomingFrame> &out) {
    while (!inFlight_.empty() && inFlight_.front().arrives <= now) {
        out.push_back(std::move(inFlight_.front().frame));
        inFlight_.pop_front();
    }
}

Clock::duration PtyEndpoint::ByteTime() const {
    if (!options_.pace || options_.baud == 0) return Clock::duration::zero();
    return std::chrono::nanoseconds(10'000'000'000LL / options_.baud);
}

Clock::duration PtyEndpoint::OutputByteTime() const {
    if (!options_.pace) return Clock::duration::zero();
    const uint32_t speed = options_.baud ? options_.baud : LineSpeed();
    if (speed == 0) return Clock::duration::zero();
    return std::chrono::nanoseconds(10'000'000'000LL / speed);  // start, 8 data and stop bits
}

void PtyEndpoint::Send(const Bytes &frame) {
    if (outQueue_.size() + frame.size() > kOutQueueLimit) return;
    // A line that stood idle starts sending now, and its first byte is there once its ten
    // bits have crossed; idle time is not saved up for a burst.
    if (outQueue_.empty()) nextWrite_ = std::max(nextWrite_, Clock::now() + OutputByteTime());
    outQueue_.insert(outQueue_.end(), frame.begin(), frame.end());
    FlushWrites();
}

Clock::time_point PtyEndpoint::NextDue() const {
    const Clock::time_point write =
        options_.pace && !outQueue_.empty() ? nextWrite_ : Clock::time_point::max();
    const Clock::time_point arrival =
        inFlight_.empty() ? Clock::time_point::max() : inFlight_.front().arrives;
    return std::min({write, arrival, reader_.StaleAt()});
}

void PtyEndpoint::FlushWrites() {
    if (outQueue_.empty()) return;
    const Clock::duration byteTime = OutputByteTime();
    if (byteTime == Clock::duration::zero()) {
        const ssize_t n = ::write(master_, outQueue_.data(), outQueue_.size());
        if (n > 0) outQueue_.erase(outQueue_.begin(), outQueue_.begin() + n);
        return;
    }
    // `nextWrite_` is when the next byte has crossed the line, as a UART hands a byte on
    // after its stop bit; every byte whose time has come goes out now.
    const auto now = Clock::now();
    if (nextWrite_ > now) return;
    const std::size_t allowed = std::min<std::size_t>(
        outQueue_.size(), static_cast<std::size_t>(1 + (now - nextWrite_) / byteTime));
    const ssize_t n = ::write(master_, outQueue_.data(), allowed);
    if (n <= 0) return;
    outQueue_.erase(outQueue_.begin(), outQueue_.begin() + n);
    nextWrite_ += byteTime * n;
}

}  // namespace hostsim
