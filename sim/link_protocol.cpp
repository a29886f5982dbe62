#include "sim/link_protocol.h"

namespace hostsim {
namespace {

constexpr uint8_t kCodeData = tevrolink::kCodeData;

}  // namespace

LinkProtocol::LinkProtocol(const HostSettings &settings, Send send)
    : settings_(settings), send_(std::move(send)) {}

void LinkProtocol::SendControl(uint8_t code, uint8_t seq) { send_(BuildFrame(code, seq, 0, 0)); }

void LinkProtocol::OnSyncRequest(uint8_t pcSeq) {
    // The PC's number is that of its last sequenced frame: the next new one follows it.
    lastAccepted_ = pcSeq;
    synced_ = false;
    ++counters_.syncRequestsAnswered;
    SendControl(tevrolink::kCodeSyncReply, txSeq_);
}

void LinkProtocol::OnSyncReply(uint8_t pcSeq) {
    lastAccepted_ = pcSeq;
    synced_ = true;
    SendControl(tevrolink::kCodeSyncConfirm, txSeq_);
}

void LinkProtocol::OnSyncConfirm() { synced_ = true; }

void LinkProtocol::StartSync() {
    synced_ = false;
    SendControl(tevrolink::kCodeSyncRequest, txSeq_);
}

bool LinkProtocol::IsRepeat(uint8_t seq) {
    if (!lastAccepted_ || *lastAccepted_ != seq) return false;
    ++counters_.duplicateStreams;
    return true;
}

void LinkProtocol::QueueData(uint8_t station, uint8_t attribute, Bytes payload) {
    queue_.push_back(BuildFrame(kCodeData, 0, station, attribute, payload));
}

void LinkProtocol::OnDataAck(uint8_t seq) {
    if (!inFlight_ || (*inFlight_)[kSeq] != seq) {
        ++counters_.strayAcks;
        return;
    }
    inFlight_.reset();
    resends_ = 0;
    nextSend_ = Clock::time_point{};  // the next packet may go at once
}

void LinkProtocol::SendNext(Clock::time_point now) {
    Bytes frame = std::move(queue_.front());
    queue_.pop_front();
    frame[kSeq] = ++txSeq_;
    Seal(frame);
    send_(frame);
    if (settings_.handShake) {
        inFlight_ = std::move(frame);
        resends_ = 0;
        nextSend_ = now + kDataResendPeriod;
    } else {
        nextSend_ = now + kDataPacketGap;
    }
}

void LinkProtocol::Tick(Clock::time_point now) {
    if (now < nextSend_) return;
    if (inFlight_) {
        if (!settings_.handShake) {
            inFlight_.reset();  // retransmission was switched off meanwhile
        } else if (resends_ < kDataResends) {
            send_(*inFlight_);
            ++resends_;
            ++counters_.dataResends;
            nextSend_ = now + kDataResendPeriod;
            return;
        } else {
            // Give the packet up and bring the PC back in step with our numbering.
            inFlight_.reset();
            ++counters_.dataPacketsLost;
            StartSync();
        }
    }
    if (!queue_.empty()) SendNext(now);
}

Clock::time_point LinkProtocol::NextDue() const {
    if (!inFlight_ && queue_.empty()) return Clock::time_point::max();
    return nextSend_;
}

void LinkProtocol::Reset() {
    ClearData();
    txSeq_ = 0;
    lastAccepted_.reset();
    synced_ = false;
    nextSend_ = Clock::time_point{};
}

void LinkProtocol::ClearData() {
    queue_.clear();
    inFlight_.reset();
    resends_ = 0;
}

}  // namespace hostsim
