// The host node's half of the link protocol: the sync exchange, the sequence numbers of
// the PC's stream frames (repeats are acknowledged but not delivered twice), and the data
// packets it sends to the PC with its own numbers, resent while unacknowledged when its
// retransmission (hand-shake) setting is on.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "sim/host_model.h"
#include "sim/wire.h"

namespace hostsim {

constexpr auto kDataResendPeriod = Millis(250);
constexpr uint32_t kDataResends = 4;
// Without hand-shake, data packets leave this far apart so that a PC polling every
// millisecond or so is not flooded.
constexpr auto kDataPacketGap = Millis(2);

struct LinkCounters {
    uint32_t syncRequestsAnswered = 0;
    uint32_t duplicateStreams = 0;   // sequenced frames repeated by the PC
    uint32_t dataResends = 0;        // data packets sent again for want of an acknowledgement
    uint32_t dataPacketsLost = 0;    // data packets given up after every resend
    uint32_t strayAcks = 0;          // 0x9E naming no packet in flight
};

class LinkProtocol {
public:
    using Send = std::function<void(const Bytes &)>;

    LinkProtocol(const HostSettings &settings, Send send);

    // Sync frames from the PC; each carries the PC's own sequence number.
    void OnSyncRequest(uint8_t pcSeq);
    void OnSyncReply(uint8_t pcSeq);
    void OnSyncConfirm();
    // Starts a sync from this side (sends 0x27).
    void StartSync();

    // A sequenced frame (0x1D, 0x1E) from the PC repeats the last one accepted when the
    // PC resent it because the acknowledgement was lost: it is acknowledged again but not
    // acted on twice.
    bool IsRepeat(uint8_t seq);
    void MarkAccepted(uint8_t seq) { lastAccepted_ = seq; }

    // Queues a data packet from `station` for the PC.
    void QueueData(uint8_t station, uint8_t attribute, Bytes payload);
    // The PC's acknowledgement 0x9E of data packet `seq`.
    void OnDataAck(uint8_t seq);
    void Tick(Clock::time_point now);
    Clock::time_point NextDue() const;
    void ClearData();
    // Forgets every number and the sync, as at power-on (the counters stay for tests).
    void Reset();

    uint8_t TxSeq() const { return txSeq_; }
    // Sets the number of the last data packet sent (to test wrap-around at 255).
    void SetTxSeq(uint8_t seq) { txSeq_ = seq; }
    std::optional<uint8_t> LastAccepted() const { return lastAccepted_; }
    bool Synced() const { return synced_; }
    std::size_t DataQueued() const { return queue_.size() + (inFlight_ ? 1 : 0); }
    const LinkCounters &Counters() const { return counters_; }

private:
    void SendControl(uint8_t code, uint8_t seq);
    void SendNext(Clock::time_point now);

    const HostSettings &settings_;
    Send send_;
    uint8_t txSeq_ = 0;
    std::optional<uint8_t> lastAccepted_;
    bool synced_ = false;

    std::deque<Bytes> queue_;      // frames built, not numbered yet
    std::optional<Bytes> inFlight_;  // sent, awaiting 0x9E (hand-shake on)
    uint32_t resends_ = 0;
    Clock::time_point nextSend_{};   // next resend, or earliest next packet
    LinkCounters counters_;
};

}  // namespace hostsim
