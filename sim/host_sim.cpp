// The thread of the stand-in host node: it waits on the link, hands frames to the node,
// records everything that passes and applies the injected faults, holding delayed frames
// until they are due.
#include "sim/host_sim.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "sim/udp_endpoint.h"

namespace hostsim {
namespace {

// Longest sleep of the thread when nothing is due: it only bounds how stale a line-speed
// check or a missed wake-up can get.
constexpr auto kIdleWait = Millis(200);

// The wait until `due`, to the nanosecond: a paced line's bytes are due every few tens of
// microseconds, and a wait rounded up to whole milliseconds would add up to a millisecond
// to every frame. ppoll sleeps at least this long, so the thread never wakes early and spins.
timespec TimeUntil(Clock::time_point due, Clock::time_point now) {
    const auto wait = due <= now ? Clock::duration::zero() : std::min<Clock::duration>(due - now, kIdleWait);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
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
    // A UART puts each byte out when its bits have crossed, not up to 50 us later: the
    // paced line's timing is the node's, not the timer's slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<IncomingFrame> frames;
    while (!stopping_) {
        pollfd fds[2] = {{endpoint_->Descriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        timespec timeout{};
        {
            std::lock_guard lock(mutex_);
            const auto now = Clock::now();
            if (endpoint_->WantsWrite()) fds[0].events |= POLLOUT;
            timeout = TimeUntil(std::min({node_.NextDue(now), endpoint_->NextDue(), NextHeld()}), now);
        }
        ppoll(fds, 2, &timeout, nullptr);
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        {
            std::lock_guard lock(mutex_);
            frames.clear();
            endpoint_->ReadFrames(frames);
            const auto now = Clock::now();
            for (IncomingFrame &f : frames) {
                Capture(f.bytes, false);
                TakeIn(std::move(f), now);
            }
            ReleaseHeld(Clock::now());
            node_.Tick(Clock::now());
            endpoint_->FlushWrites();
        }
        changed_.notify_all();
    }
}

void HostSim::Record(std::vector<RecordedFrame> &log, Bytes bytes, Fate fate, Millis heldFor) {
    log.push_back(RecordedFrame{std::move(bytes), Clock::now(), fate, heldFor});
}

void HostSim::TakeIn(IncomingFrame frame, Clock::time_point now) {
    if (!frame.crcOk) return Record(received_, std::move(frame.bytes), Fate::kBadCrc);
    if (frame.wrongSpeed) return Record(received_, std::move(frame.bytes), Fate::kIgnored);
    if (dropReceived_ > 0) {
        --dropReceived_;
        return Record(received_, std::move(frame.bytes), Fate::kDropped);
    }
    if (corruptReceived_ > 0) {
        --corruptReceived_;
        frame.bytes.back() ^= 0x01;  // one flipped bit: the frame check now fails
        return Record(received_, std::move(frame.bytes), Fate::kCorrupted);
    }
    const FaultDecision d = faults_.Next(false, frame.bytes.size());
    if (d.drop) return Record(received_, std::move(frame.bytes), Fate::kDropped);
    if (d.damage) {
        // The frame check catches any one damaged byte, so the node never acts on it.
        Damage(frame.bytes, *d.damage);
        return Record(received_, std::move(frame.bytes), Fate::kCorrupted);
    }
    if (d.duplicate) Pass(frame.bytes, false, d.delay, Fate::kPassed, now);
    Pass(std::move(frame.bytes), false, d.delay, d.duplicate ? Fate::kDuplicated : Fate::kPassed,
         now);
}

void HostSim::Transmit(const Bytes &frame, bool fromNode) {
    const auto now = Clock::now();
    if (fromNode && Silent(now)) return;
    if (!endpoint_->Answering()) return Record(sent_, frame, Fate::kIgnored);
    if (dropSent_ > 0) {
        --dropSent_;
        return Record(sent_, frame, Fate::kDropped);
    }
    if (corruptSent_ > 0) {
        --corruptSent_;
        Bytes damaged = frame;
        damaged.back() ^= 0x01;
        return PutOnLink(damaged, Millis(0), Fate::kCorrupted);
    }
    if (duplicateSent_ > 0) {
        --duplicateSent_;
        PutOnLink(frame, Millis(0), Fate::kPassed);
        return PutOnLink(frame, Millis(0), Fate::kDuplicated);
    }
    const FaultDecision d = faults_.Next(true, frame.size());
    if (d.drop) return Record(sent_, frame, Fate::kDropped);
    Bytes out = frame;
    if (d.damage) Damage(out, *d.damage);
    const Fate fate = d.damage ? Fate::kCorrupted : Fate::kPassed;
    if (d.duplicate) Pass(out, true, d.delay, fate, now);
    Pass(std::move(out), true, d.delay, d.duplicate ? Fate::kDuplicated : fate, now);
}

void HostSim::Pass(Bytes bytes, bool toPc, Millis delay, Fate fate, Clock::time_point now) {
    if (delay.count() > 0) {
        held_.push_back(HeldFrame{now + delay, std::move(bytes), toPc, delay, fate});
    } else if (toPc) {
        PutOnLink(bytes, delay, fate);
    } else {
        Deliver(bytes, delay, fate, now);
    }
}

void HostSim::Deliver(const Bytes &bytes, Millis heldFor, Fate fate, Clock::time_point now) {
    if (Silent(now)) return Record(received_, bytes, Fate::kIgnored, heldFor);
    Record(received_, bytes, fate, heldFor);
    node_.OnFrame(bytes, now);
}

void HostSim::PutOnLink(const Bytes &bytes, Millis heldFor, Fate fate) {
    Capture(bytes, true);
    endpoint_->Send(bytes);
    Record(sent_, bytes, fate, heldFor);
}

void HostSim::ReleaseHeld(Clock::time_point now) {
    // Frames due at the same moment leave in the order they were held.
    std::stable_sort(held_.begin(), held_.end(),
                     [](const HeldFrame &a, const HeldFrame &b) { return a.due < b.due; });
    std::size_t due = 0;
    while (due < held_.size() && held_[due].due <= now) ++due;
    std::vector<HeldFrame> release(std::make_move_iterator(held_.begin()),
                                   std::make_move_iterator(held_.begin() + static_cast<std::ptrdiff_t>(due)));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(due));
    // Delivering may make the node answer, and the answer may be held in turn.
    for (const HeldFrame &h : release) {
        if (h.toPc) {
            PutOnLink(h.bytes, h.heldFor, h.fate);
        } else {
            Deliver(h.bytes, h.heldFor, h.fate, now);
        }
    }
}

Clock::time_point HostSim::NextHeld() const {
    Clock::time_point next = Clock::time_point::max();
    for (const HeldFrame &h : held_) next = std::min(next, h.due);
    return next;
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

void HostSim::CaptureTo(const std::string &path) {
    auto writer = std::make_unique<tevrolink::PcapWriter>(path);
    if (writer->Error()) throw std::runtime_error("cannot write the capture " + path + ": " + writer->ErrorText());
    std::lock_guard lock(mutex_);
    capture_ = std::move(writer);
    capturePath_ = path;
}

void HostSim::Capture(const Bytes &bytes, bool toPc) {
    if (!capture_) return;
    sockaddr_in node = tevrolink::SerialNodeEnd(), pc = tevrolink::SerialPcEnd();
    if (const auto *udp = dynamic_cast<const UdpEndpoint *>(endpoint_.get())) {
        node = udp->Local();
        // The one the node answers; nobody yet for a frame it sends of its own accord.
        pc = udp->Peer().value_or(sockaddr_in{AF_INET, 0, {0}, {}});
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (capture_->Write(toPc ? node : pc, toPc ? pc : node, bytes.data(), bytes.size(), now)) return;
    std::fprintf(stderr, "hostsim: cannot write the capture %s: %s; frames are no longer captured\n",
                 capturePath_.c_str(), capture_->ErrorText().c_str());
    capture_.reset();
}

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

void HostSim::SilenceFor(Millis period) {
    std::lock_guard lock(mutex_);
    silentUntil_ = Clock::now() + period;
}

void HostSim::SetFaults(const FaultPlan &plan) {
    FaultPlan used = plan;
    // A serial line cannot deliver bytes out of order.
    if (dynamic_cast<const PtyEndpoint *>(endpoint_.get())) used.reorder = false;
    std::lock_guard lock(mutex_);
    faults_ = FaultInjector(used);
}

void HostSim::Restart() {
    With([](HostNode &n) { n.Restart(Clock::now()); });
}

void HostSim::SetReplyFault(uint8_t requestCode, const ReplyFault &fault) {
    With([&](HostNode &n) { n.SetReplyFault(requestCode, fault); });
}

}  // namespace hostsim
