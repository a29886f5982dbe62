// The thread of the stand-in host node: it waits on the link, hands frames to the node,
// records everything that passes and applies the injected faults.
#include "sim/host_sim.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "sim/udp_endpoint.h"

namespace hostsim {
namespace {

// Longest sleep of the thread when nothing is due: it only bounds how stale a line-speed
// check or a missed wake-up can get.
constexpr auto kIdleWait = Millis(200);

int MillisUntil(Clock::time_point due, Clock::time_point now) {
    if (due <= now) return 0;
    const auto wait = std::min<Clock::duration>(due - now, kIdleWait);
    // Round up, so the thread never wakes just before a deadline and spins.
    return static_cast<int>(std::chrono::ceil<Millis>(wait).count());
}

}  // namespace

FramePredicate WithCode(uint8_t code) {
    return [code](const RecordedFrame &f) { return f.Code() == code; };
}

FramePredicate WithCodeAndSeq(uint8_t code, uint8_t seq) {
    return [code, seq](const RecordedFrame &f) { return f.Code() == code && f.Seq() == seq; };
}

std::unique_ptr<HostSim> HostSim::StartUdp(const std::string &address, uint16_t port) {
    return std::unique_ptr<HostSim>(new HostSim(std::make_unique<UdpEndpoint>(address, port)));
}

std::unique_ptr<HostSim> HostSim::StartPty(const PtyOptions &options) {
    return std::unique_ptr<HostSim>(new HostSim(std::make_unique<PtyEndpoint>(options)));
}

HostSim::HostSim(std::unique_ptr<Endpoint> endpoint)
    : endpoint_(std::move(endpoint)), node_([this](const Bytes &f) { Transmit(f, true); }) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    thread_ = std::thread([this] { Run(); });
}

HostSim::~HostSim() {
    Stop();
    ::close(wakeFd_);
}

void HostSim::Stop() {
    if (stopping_.exchange(true)) return;
    WakeLoop();
    if (thread_.joinable()) thread_.join();
}

void HostSim::WakeLoop() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void HostSim::Run() {
    std::vector<IncomingFrame> frames;
    while (!stopping_) {
        pollfd fds[2] = {{endpoint_->Descriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int timeout;
        {
            std::lock_guard lock(mutex_);
            const auto now = Clock::now();
            if (endpoint_->WantsWrite()) fds[0].events |= POLLOUT;
            timeout = MillisUntil(std::min(node_.NextDue(now), endpoint_->NextDue()), now);
        }
        poll(fds, 2, timeout);
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        {
            std::lock_guard lock(mutex_);
            frames.clear();
            endpoint_->ReadFrames(frames);
            const auto now = Clock::now();
            for (IncomingFrame &f : frames) TakeIn(std::move(f), now);
            node_.Tick(Clock::now());
            endpoint_->FlushWrites();
        }
        changed_.notify_all();
    }
}

void HostSim::Record(std::vector<RecordedFrame> &log, Bytes bytes, Fate fate) {
    log.push_back(RecordedFrame{std::move(bytes), Clock::now(), fate});
}

void HostSim::TakeIn(IncomingFrame frame, Clock::time_point now) {
    Fate fate = Fate::kPassed;
    if (!frame.crcOk) {
        fate = Fate::kBadCrc;
    } else if (frame.wrongSpeed) {
        fate = Fate::kIgnored;
    } else if (dropReceived_ > 0) {
        --dropReceived_;
        fate = Fate::kDropped;
    } else if (corruptReceived_ > 0) {
        --corruptReceived_;
        frame.bytes.back() ^= 0x01;  // one flipped bit: the frame check now fails
        fate = Fate::kCorrupted;
    } else if (silent_) {
        fate = Fate::kIgnored;
    }
    Record(received_, frame.bytes, fate);
    if (fate == Fate::kPassed) node_.OnFrame(frame.bytes, now);
}

void HostSim::Transmit(const Bytes &frame, bool fromNode) {
    if (fromNode && silent_) return;
    if (!endpoint_->Answering()) {
        Record(sent_, frame, Fate::kIgnored);
        return;
    }
    if (dropSent_ > 0) {
        --dropSent_;
        Record(sent_, frame, Fate::kDropped);
        return;
    }
    if (corruptSent_ > 0) {
        --corruptSent_;
        Bytes damaged = frame;
        damaged.back() ^= 0x01;
        endpoint_->Send(damaged);
        Record(sent_, std::move(damaged), Fate::kCorrupted);
        return;
    }
    endpoint_->Send(frame);
    Record(sent_, frame, Fate::kPassed);
    if (duplicateSent_ > 0) {
        --duplicateSent_;
        endpoint_->Send(frame);
        Record(sent_, frame, Fate::kPassed);
    }
}

uint16_t HostSim::Port() const {
    const auto *udp = dynamic_cast<const UdpEndpoint *>(endpoint_.get());
    return udp ? udp->Port() : 0;
}

std::string HostSim::PtyPath() const {
    const auto *pty = dynamic_cast<const PtyEndpoint *>(endpoint_.get());
    return pty ? pty->SlavePath() : std::string();
}

std::string HostSim::Describe() const { return endpoint_->Describe(); }

std::vector<RecordedFrame> HostSim::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<RecordedFrame> HostSim::Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::size_t HostSim::ReceivedCount() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

std::size_t HostSim::SentCount() const {
    std::lock_guard lock(mutex_);
    return sent_.size();
}

std::optional<RecordedFrame> HostSim::WaitForReceived(const FramePredicate &match, Millis timeout,
                                                      std::size_t from) const {
    auto found = WaitForReceivedCount(match, 1, timeout, from);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::optional<RecordedFrame> HostSim::WaitForSent(const FramePredicate &match, Millis timeout,
                                                  std::size_t from) const {
    std::unique_lock lock(mutex_);
    std::optional<RecordedFrame> hit;
    changed_.wait_for(lock, timeout, [&] {
        for (std::size_t i = from; i < sent_.size(); ++i)
            if (match(sent_[i])) {
                hit = sent_[i];
                return true;
            }
        return false;
    });
    return hit;
}

std::vector<RecordedFrame> HostSim::WaitForReceivedCount(const FramePredicate &match,
                                                         std::size_t count, Millis timeout,
                                                         std::size_t from) const {
    std::unique_lock lock(mutex_);
    std::vector<RecordedFrame> hits;
    changed_.wait_for(lock, timeout, [&] {
        hits.clear();
        for (std::size_t i = from; i < received_.size() && hits.size() < count; ++i)
            if (match(received_[i])) hits.push_back(received_[i]);
        return hits.size() >= count;
    });
    return hits;
}

bool HostSim::WaitUntil(const std::function<bool(const HostNode &)> &check, Millis timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return check(node_); });
}

void HostSim::ClearRecord() {
    std::lock_guard lock(mutex_);
    received_.clear();
    sent_.clear();
}

void HostSim::DropReceived(unsigned count) {
    std::lock_guard lock(mutex_);
    dropReceived_ = count;
}

void HostSim::CorruptReceived(unsigned count) {
    std::lock_guard lock(mutex_);
    corruptReceived_ = count;
}

void HostSim::DropSent(unsigned count) {
    std::lock_guard lock(mutex_);
    dropSent_ = count;
}

void HostSim::CorruptSent(unsigned count) {
    std::lock_guard lock(mutex_);
    corruptSent_ = count;
}

void HostSim::DuplicateSent(unsigned count) {
    std::lock_guard lock(mutex_);
    duplicateSent_ = count;
}

void HostSim::SetSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void HostSim::SetReplyFault(uint8_t requestCode, const ReplyFault &fault) {
    With([&](HostNode &n) { n.SetReplyFault(requestCode, fault); });
}

}  // namespace hostsim
