// The stand-in host node itself, without threads or sockets: frames from the PC go in,
// frames for the PC come out through a callback, and Tick drives everything that runs on
// time (the radio draining the buffer, retransmission, a network search, demo traffic).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "sim/host_model.h"
#include "sim/link_protocol.h"
#include "sim/station_traffic.h"
#include "sim/wire.h"

namespace hostsim {

// Makes the node answer one request code badly on purpose.
struct ReplyFault {
    uint32_t count = 1;             // replies affected; 0 = all from now on
    Millis delay{0};                // the reply goes out this late
    std::optional<uint8_t> code;    // and with this code instead of the right one
    std::optional<Bytes> payload;   // and with this payload instead
    bool omit = false;              // no reply at all
};

struct NodeCounters {
    uint32_t streamFrames = 0;      // new stream frames taken in
    uint32_t streamOverflows = 0;   // stream frames refused: the buffer had no room
    uint32_t readRequests = 0;      // reads of the host's own output device
    uint32_t unknownFrames = 0;     // codes the node does not know
};

constexpr auto kSearchStep = Millis(30);

class HostNode {
public:
    using Send = std::function<void(const Bytes &)>;

    explicit HostNode(Send send);

    void OnFrame(const Bytes &frame, Clock::time_point now);
    void Tick(Clock::time_point now);
    Clock::time_point NextDue(Clock::time_point now) const;

    HostModel &Model() { return model_; }
    const HostModel &Model() const { return model_; }
    LinkProtocol &Link() { return link_; }
    const LinkProtocol &Link() const { return link_; }
    const NodeCounters &Counters() const { return counters_; }

    void SetReplyFault(uint8_t requestCode, const ReplyFault &fault);
    void ClearReplyFaults() { replyFaults_.clear(); }

    // Sends a status report (0x9D or 0x9C) with the node's present state.
    void SendStatus(uint8_t code, uint8_t seq);
    void SendFileFromStation(uint8_t station, std::span<const uint8_t> content,
                             const FileSendOptions &options);
    void SendDataPacket(uint8_t station, uint8_t attribute, std::span<const uint8_t> payload);
    void SendDebug(bool longForm, const DebugEvent &event);
    void SendSignal(uint8_t stateCode, uint8_t station);
    void StartSearch(Clock::time_point now);
    void StopSearch();
    // Every `period`, one present station reports a signal with its link quality drifting
    // a little (and a debug packet while the monitor service runs); a zero period stops it.
    void SetDemo(Millis period, Clock::time_point now);
    // Every `period`, one reachable station sends the PC a small text file while the node
    // is in data transfer mode (and, when it retransmits, in step with the PC); a zero
    // period stops it.
    void SetDemoFiles(Millis period, Clock::time_point now);
    // Starts afresh as after a power cut: what it held in memory for the link is gone
    // (settings, stations and its own output devices stay), and it asks for a sync.
    void Restart(Clock::time_point now);

private:
    enum class Timed { kPlain, kSearch, kSearchEnd };
    struct TimedFrame {
        Clock::time_point at;
        Bytes frame;
        Timed kind;
    };

    void OnStream(const Bytes &frame, Clock::time_point now);
    void OnReadRequest(const Bytes &frame, Clock::time_point now);
    void OnCommand(const Bytes &frame, Clock::time_point now);
    // Sends the reply to a request of `requestCode`, unless a fault says otherwise.
    void Reply(uint8_t requestCode, Bytes reply, Clock::time_point now);
    void DemoTick(Clock::time_point now);
    void DemoFileTick(Clock::time_point now);
    // The next station after `cursor` that `wanted` accepts, which the cursor moves on to;
    // 0 when none is.
    uint8_t NextStation(unsigned &cursor, bool (*wanted)(const Station &)) const;

    Send send_;
    HostModel model_;
    LinkProtocol link_;
    NodeCounters counters_;
    std::map<uint8_t, ReplyFault> replyFaults_;
    std::vector<TimedFrame> timed_;
    std::optional<Bytes> lastReadReply_;  // repeated when the PC repeats its read request
    Millis demoPeriod_{0};
    Clock::time_point nextDemo_ = Clock::time_point::max();
    unsigned demoCursor_ = 0;
    uint32_t demoDrift_ = 1;  // generator of the link-quality drift
    Millis demoFilePeriod_{0};
    Clock::time_point nextDemoFile_ = Clock::time_point::max();
    unsigned demoFileCursor_ = 0;
    unsigned demoFilesSent_ = 0;
};

}  // namespace hostsim
