// HostSim: the stand-in host node running in its own thread, for tests and the hostsim
// program. It records every frame that passes with a monotonic time stamp, lets a test
// wait for a frame (never sleep), injects faults (one-shot counts, or a seeded plan), and
// gives locked access to the node's state.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/capture.h"
#include "sim/endpoint.h"
#include "sim/fault_injector.h"
#include "sim/host_node.h"
#include "sim/pty_endpoint.h"
#include "sim/wire.h"

namespace hostsim {

// What became of a recorded frame.
enum class Fate {
    kPassed,     // received and acted on, or sent
    kDropped,    // lost on purpose (fault injection)
    kCorrupted,  // damaged on purpose; a corrupted received frame is not acted on
    kBadCrc,     // arrived with a wrong CRC and was ignored
    kIgnored,    // received while silent or at another line speed; or not sent because the
                 // pty runs at another speed
    kDuplicated, // the second copy of a frame doubled on purpose (acted on, or sent)
};

struct RecordedFrame {
    Bytes bytes;  // as on the wire (after corruption, if any)
    Clock::time_point at;
    Fate fate = Fate::kPassed;
    Millis heldFor{0};  // how long a delay fault held it back

    uint8_t Code() const { return bytes.size() > kCode ? bytes[kCode] : 0; }
    uint8_t Seq() const { return bytes.size() > kSeq ? bytes[kSeq] : 0; }
    uint8_t Node() const { return bytes.size() > kNode ? bytes[kNode] : 0; }
    uint8_t Attr() const { return bytes.size() > kAttr ? bytes[kAttr] : 0; }
    std::span<const uint8_t> Payload() const { return PayloadOf(bytes); }
};

using FramePredicate = std::function<bool(const RecordedFrame &)>;
FramePredicate WithCode(uint8_t code);
FramePredicate WithCodeAndSeq(uint8_t code, uint8_t seq);

class HostSim {
public:
    // Runs on UDP `address`:`port`; port 0 picks a free one (see Port()).
    static std::unique_ptr<HostSim> StartUdp(const std::string &address = "127.0.0.1",
                                             uint16_t port = 0);
    // Runs on a new pseudo-terminal (see PtyPath()).
    static std::unique_ptr<HostSim> StartPty(const PtyOptions &options = {});
    ~HostSim();  // stops the thread and joins it
    HostSim(const HostSim &) = delete;
    HostSim &operator=(const HostSim &) = delete;

    void Stop();
    uint16_t Port() const;           // UDP port, 0 on a pty
    std::string PtyPath() const;     // pty slave path, empty on UDP
    std::string Describe() const;    // either, as text
    // UDP: where node-initiated frames go before the PC has sent anything.
    void SetUdpPeer(const std::string &address, uint16_t port);
    // pty: the line speed at which the node answers (0: any).
    void SetBaud(uint32_t baud);
    // From now on every frame that crosses the link (everything that arrives, and what is
    // put on the link) goes into a pcap file at `path`, drawn as the library draws its
    // own captures. Throws std::runtime_error naming the capture when the file cannot be
    // made.
    void CaptureTo(const std::string &path);

    // ---- sending ------------------------------------------------------------------------
    // A frame built and sealed here; faults to sent frames apply to it, silence does not.
    void SendFrame(uint8_t code, uint8_t seq = 0, uint8_t node = 0, uint8_t attr = 0,
                   std::span<const uint8_t> payload = {});
    // Bytes put on the link exactly as given (no sealing, no faults).
    void SendRaw(const Bytes &bytes);
    // A status report (0x9D or 0x9C) with the node's present state.
    void SendStatus(uint8_t code, uint8_t seq);
    // A data packet from `station`, numbered (and resent) by the node's link protocol.
    void SendDataPacket(uint8_t station, uint8_t attribute, std::span<const uint8_t> payload);
    void StartSync();
    void SendFileFromStation(uint8_t station, std::span<const uint8_t> content,
                             const FileSendOptions &options = {});
    void SendDebug(bool longForm, const DebugEvent &event);
    void SendSignal(uint8_t stateCode, uint8_t station);
    void StartSearch();

    // ---- the record ---------------------------------------------------------------------
    std::vector<RecordedFrame> Received() const;  // from the PC, in arrival order
    std::vector<RecordedFrame> Sent() const;      // to the PC, in sending order
    std::size_t ReceivedCount() const;
    std::size_t SentCount() const;
    // Waits until a frame at index >= `from` of the record matches; nullopt on time-out.
    std::optional<RecordedFrame> WaitForReceived(const FramePredicate &match, Millis timeout,
                                                 std::size_t from = 0) const;
    std::optional<RecordedFrame> WaitForSent(const FramePredicate &match, Millis timeout,
                                             std::size_t from = 0) const;
    // Waits until `count` frames at index >= `from` match; returns them (fewer on time-out).
    std::vector<RecordedFrame> WaitForReceivedCount(const FramePredicate &match,
                                                    std::size_t count, Millis timeout,
                                                    std::size_t from = 0) const;
    // Waits until `check` holds for the node (checked on every change); false on time-out.
    bool WaitUntil(const std::function<bool(const HostNode &)> &check, Millis timeout) const;
    void ClearRecord();

    // ---- faults -------------------------------------------------------------------------
    void DropReceived(unsigned count);
    void CorruptReceived(unsigned count);
    void DropSent(unsigned count);
    void CorruptSent(unsigned count);
    void DuplicateSent(unsigned count);
    // Silent: frames are still recorded but not acted on, and the node sends nothing of
    // its own accord.
    void SetSilent(bool silent);
    // Silent for `period` from now, then back as it was (its timers ran on meanwhile).
    void SilenceFor(Millis period);
    void SetReplyFault(uint8_t requestCode, const ReplyFault &fault);
    // Seeded faults on every frame from now on, after the one-shot counts above; a default
    // plan ends them. Frames already held back by a delay still arrive. On a pty frames
    // keep their order whatever the plan says.
    void SetFaults(const FaultPlan &plan);
    // The node starts afresh, as after a power cut: its sequence numbers, link sync, data
    // queued for the PC and its transmit buffer are gone (settings and stations stay),
    // and it asks the PC for a sync as a node that has just started does.
    void Restart();

    // ---- state --------------------------------------------------------------------------
    // Runs `fn` on the node under the lock (read or change anything); the thread then
    // re-plans its timers.
    template <typename Fn>
    auto With(Fn &&fn) {
        struct Wake {
            const HostSim *sim;
            ~Wake() { sim->WakeLoop(); }
        } wake{this};
        std::lock_guard lock(mutex_);
        return fn(node_);
    }
    HostSettings Settings() const;
    void UpdateSettings(const std::function<void(HostSettings &)> &change);
    // Makes stations present (and online), optionally active too.
    void AddStations(std::initializer_list<uint8_t> stations, bool active = false);
    // The demo network: `count` stations from 2 on, within range; 2 and 3 are active and
    // 4 is active but suspended after a failure, so that a broadcast, an activation and a
    // suspension can all be seen at once.
    void AddDemoNetwork(unsigned count);
    Station StationState(uint8_t station) const;
    void UpdateStation(uint8_t station, const std::function<void(Station &)> &change);
    std::vector<ReceivedFile> ReceivedFiles(uint8_t station) const;
    Bytes StationDevice(uint8_t station, uint8_t device) const;
    Bytes HostDevice(uint8_t device) const;
    void SetDrainRate(uint32_t bytesPerSecond);
    void SetBufferSize(uint16_t size);
    Bytes StatusPayload() const;
    LinkCounters LinkStats() const;
    NodeCounters NodeStats() const;
    void SetDemo(Millis period);
    void SetDemoFiles(Millis period);

private:
    explicit HostSim(std::unique_ptr<Endpoint> endpoint);
    void Run();
    void WakeLoop() const;
    // All below run with mutex_ held.
    struct HeldFrame {
        Clock::time_point due;
        Bytes bytes;
        bool toPc;
        Millis heldFor;
        Fate fate;
    };
    void TakeIn(IncomingFrame frame, Clock::time_point now);
    void Transmit(const Bytes &frame, bool fromNode);
    // A frame that survived the faults: on its way now, or held back for `delay`.
    void Pass(Bytes bytes, bool toPc, Millis delay, Fate fate, Clock::time_point now);
    void Deliver(const Bytes &bytes, Millis heldFor, Fate fate, Clock::time_point now);
    void PutOnLink(const Bytes &bytes, Millis heldFor, Fate fate);
    void ReleaseHeld(Clock::time_point now);
    Clock::time_point NextHeld() const;
    bool Silent(Clock::time_point now) const { return silent_ || now < silentUntil_; }
    void Record(std::vector<RecordedFrame> &log, Bytes bytes, Fate fate, Millis heldFor = {});
    void Capture(const Bytes &bytes, bool toPc);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::unique_ptr<Endpoint> endpoint_;
    HostNode node_;
    std::vector<RecordedFrame> received_;
    std::vector<RecordedFrame> sent_;
    unsigned dropReceived_ = 0, corruptReceived_ = 0;
    unsigned dropSent_ = 0, corruptSent_ = 0, duplicateSent_ = 0;
    bool silent_ = false;
    Clock::time_point silentUntil_{};
    FaultInjector faults_;
    std::vector<HeldFrame> held_;  // in the order they were held
    std::unique_ptr<tevrolink::PcapWriter> capture_;
    std::string capturePath_;

    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace hostsim
