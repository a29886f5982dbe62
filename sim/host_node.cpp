#include "sim/host_node.h"

#include <algorithm>
#include <string>

#include "sim/command_handlers.h"
#include "sim/status_report.h"

namespace hostsim {
namespace {

using namespace tevrolink;  // frame codes

constexpr std::size_t kReadRequestPayload = 4;

}  // namespace

HostNode::HostNode(Send send)
    : send_(std::move(send)), link_(model_.settings, [this](const Bytes &f) { send_(f); }) {}

void HostNode::OnFrame(const Bytes &frame, Clock::time_point now) {
    const uint8_t code = frame[kCode];
    switch (code) {
    case kCodeSyncRequest: link_.OnSyncRequest(frame[kSeq]); return;
    case kCodeSyncReply: link_.OnSyncReply(frame[kSeq]); return;
    case kCodeSyncConfirm: link_.OnSyncConfirm(); return;
    case kCodeDataAck: link_.OnDataAck(frame[kSeq]); return;
    case kCodeStream: OnStream(frame, now); return;
    case kCodeData: OnReadRequest(frame, now); return;
    case kCodeStatusQuery:
        Reply(code, BuildFrame(kCodeStatusQueried, 0, 0, 0, BuildStatusPayload(model_)), now);
        return;
    default:
        if (IsCommand(code)) {
            OnCommand(frame, now);
        } else {
            ++counters_.unknownFrames;
        }
    }
}

void HostNode::OnStream(const Bytes &frame, Clock::time_point now) {
    const uint8_t seq = frame[kSeq];
    const uint8_t destination = frame[kNode];
    const auto payload = PayloadOf(frame);
    if (!link_.IsRepeat(seq)) {
        if (destination != kHostNode && !model_.txBuffer.Fits(payload.size())) {
            // No room: no acknowledgement either, so the PC's keeper sends it again.
            ++counters_.streamOverflows;
            return;
        }
        link_.MarkAccepted(seq);
        ++counters_.streamFrames;
        if (destination == kHostNode) {
            model_.devices.Write(payload);
        } else {
            model_.txBuffer.Push(destination, frame[kAttr], payload, now);
            model_.connected = true;
        }
    }
    // The report is built after the frame was taken in, so its credit already counts it.
    Reply(kCodeStream, BuildFrame(kCodeStatusAck, seq, 0, 0, BuildStatusPayload(model_)), now);
}

void HostNode::OnReadRequest(const Bytes &frame, Clock::time_point now) {
    if (frame[kNode] != kHostNode) {
        ++counters_.unknownFrames;  // the PC reads only from the host itself
        return;
    }
    const auto payload = PayloadOf(frame);
    if (link_.IsRepeat(frame[kSeq]) && lastReadReply_) {
        Reply(kCodeData, *lastReadReply_, now);
        return;
    }
    link_.MarkAccepted(frame[kSeq]);
    ++counters_.readRequests;
    const std::size_t want = payload.size() >= kReadRequestPayload ? ReadLe32(payload.data()) : 0;
    const Bytes data = model_.devices.Read(std::min<std::size_t>(want, kFramePayload));
    lastReadReply_ = BuildFrame(kCodeDataAck, frame[kSeq], kHostNode, 0, data);
    Reply(kCodeData, *lastReadReply_, now);
}

void HostNode::OnCommand(const Bytes &frame, Clock::time_point now) {
    CommandEffects effects;
    const std::optional<CommandReply> reply = HandleCommand(model_, frame, effects);
    if (effects.startSearch) StartSearch(now);
    if (effects.stopSearch) StopSearch();
    if (reply) Reply(frame[kCode], BuildFrame(reply->code, 0, 0, 0, reply->payload), now);
}

void HostNode::Reply(uint8_t requestCode, Bytes reply, Clock::time_point now) {
    const auto it = replyFaults_.find(requestCode);
    if (it == replyFaults_.end()) {
        send_(reply);
        return;
    }
    const ReplyFault fault = it->second;
    if (fault.count == 1) {
        replyFaults_.erase(it);
    } else if (fault.count > 1) {
        --it->second.count;
    }
    if (fault.omit) return;
    if (fault.code) reply[kCode] = *fault.code;
    if (fault.payload) {
        reply.resize(kPayload);
        reply.insert(reply.end(), fault.payload->begin(), fault.payload->end());
        reply[kLength] = static_cast<uint8_t>(std::min<std::size_t>(fault.payload->size(), 255));
    }
    Seal(reply);
    if (fault.delay.count() > 0) {
        timed_.push_back(TimedFrame{now + fault.delay, std::move(reply), Timed::kPlain});
    } else {
        send_(reply);
    }
}

void HostNode::SetReplyFault(uint8_t requestCode, const ReplyFault &fault) {
    replyFaults_[requestCode] = fault;
}

void HostNode::SendStatus(uint8_t code, uint8_t seq) {
    send_(BuildFrame(code, seq, 0, 0, BuildStatusPayload(model_)));
}

void HostNode::SendFileFromStation(uint8_t station, std::span<const uint8_t> content,
                                   const FileSendOptions &options) {
    for (DataPacketSpec &p : FilePackets(content, options))
        link_.QueueData(station, p.attribute, std::move(p.payload));
}

void HostNode::SendDataPacket(uint8_t station, uint8_t attribute,
                              std::span<const uint8_t> payload) {
    link_.QueueData(station, attribute, Bytes(payload.begin(), payload.end()));
}

void HostNode::SendDebug(bool longForm, const DebugEvent &event) {
    if (longForm) {
        send_(BuildFrame(kCodeDebugLong, event.subKind, 0, 0,
                         DebugLongPayload(event, model_.settings.nodeId, model_.stations)));
    } else {
        send_(BuildFrame(kCodeDebugShort, event.subKind, 0, 0, DebugShortPayload(event)));
    }
}

void HostNode::SendSignal(uint8_t stateCode, uint8_t station) {
    send_(BuildFrame(kCodeSignal, 0, 0, 0,
                     SignalPayload(stateCode, station, model_.stations.At(station))));
}

void HostNode::StartSearch(Clock::time_point now) {
    StopSearch();
    model_.searching = true;
    // Each station within range answers in turn; the search ends with station 255.
    Clock::time_point at = now;
    model_.stations.ForEach([&](unsigned n, Station &s) {
        if (!s.present) return;
        s.online = true;
        at += kSearchStep;
        timed_.push_back(TimedFrame{
            at, BuildFrame(kCodeSignal, 0, 0, 0, SignalPayload(kSignalSearch, static_cast<uint8_t>(n), s)),
            Timed::kSearch});
    });
    at += kSearchStep;
    timed_.push_back(TimedFrame{
        at, BuildFrame(kCodeSignal, 0, 0, 0, Bytes{kSignalSearch, kSignalEndStation, 0, 0, 0, 0, 0}),
        Timed::kSearchEnd});
}

void HostNode::StopSearch() {
    std::erase_if(timed_, [](const TimedFrame &t) { return t.kind != Timed::kPlain; });
    model_.searching = false;
}

void HostNode::SetDemo(Millis period, Clock::time_point now) {
    demoPeriod_ = period;
    nextDemo_ = period.count() > 0 ? now + period : Clock::time_point::max();
}

void HostNode::Restart(Clock::time_point now) {
    StopSearch();
    timed_.clear();
    lastReadReply_.reset();
    model_.txBuffer.Clear();
    model_.connected = false;
    link_.Reset();
    if (demoPeriod_.count() > 0) nextDemo_ = now + demoPeriod_;
    if (demoFilePeriod_.count() > 0) nextDemoFile_ = now + demoFilePeriod_;
    link_.StartSync();
}

uint8_t HostNode::NextStation(unsigned &cursor, bool (*wanted)(const Station &)) const {
    for (unsigned tries = 0; tries < kLastStation; ++tries) {
        cursor = cursor % kLastStation + 1;
        if (wanted(model_.stations.At(cursor))) return static_cast<uint8_t>(cursor);
    }
    return 0;
}

namespace {

// A quality byte moved by at most 6 either way, kept where a working radio link reads.
uint8_t Drift(uint8_t value, uint32_t &state) {
    state = state * 1103515245u + 12345u;
    const int step = static_cast<int>((state >> 16) % 13) - 6;
    return static_cast<uint8_t>(std::clamp(value + step, 0x30, 0xF0));
}

}  // namespace

void HostNode::DemoTick(Clock::time_point now) {
    nextDemo_ = now + demoPeriod_;
    const uint8_t n = NextStation(demoCursor_, [](const Station &s) { return s.present; });
    if (n == 0) return;
    Station &s = model_.stations.At(n);
    s.hostLqi = Drift(s.hostLqi, demoDrift_);
    s.peerLqi = Drift(s.peerLqi, demoDrift_);
    s.hostRssi = Drift(s.hostRssi, demoDrift_);
    s.peerRssi = Drift(s.peerRssi, demoDrift_);
    SendSignal(model_.HostState(), n);
    if (model_.settings.monitor) {
        DebugEvent e;
        e.subKind = 2;
        e.stationA = n;
        e.stationB = model_.settings.nodeId;
        e.cmd = s.linked ? 0xE0 : 0x10;
        e.counter = static_cast<uint8_t>(demoDrift_ >> 24);
        SendDebug(true, e);
    }
}

void HostNode::SetDemoFiles(Millis period, Clock::time_point now) {
    demoFilePeriod_ = period;
    nextDemoFile_ = period.count() > 0 ? now + period : Clock::time_point::max();
}

void HostNode::DemoFileTick(Clock::time_point now) {
    nextDemoFile_ = now + demoFilePeriod_;
    // A file the PC is not ready for would only stand in the queue in front of its
    // commands' answers. Without retransmission the node relays a station's packets as
    // they come, whether or not the PC ever synchronised; with it, it numbers them, and
    // numbers mean nothing to a PC that is not in step.
    if (!model_.settings.dataMode || model_.searching) return;
    if (model_.settings.handShake && !link_.Synced()) return;
    // A suspended station is set aside: the node takes nothing from it.
    const uint8_t n = NextStation(demoFileCursor_, [](const Station &s) { return s.Reachable(); });
    if (n == 0) return;
    ++demoFilesSent_;
    std::string text;
    const unsigned lines = 20 + demoFilesSent_ % 7 * 10;
    for (unsigned line = 1; line <= lines; ++line)
        text += "station " + std::to_string(n) + ", demo file " + std::to_string(demoFilesSent_) +
                ", line " + std::to_string(line) + "\n";
    SendFileFromStation(n, std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), {});
}

void HostNode::Tick(Clock::time_point now) {
    model_.txBuffer.Drain(now, [this](const QueuedPacket &p) { model_.DeliverToStations(p); });
    link_.Tick(now);
    // Timed frames go in order of their time; sending may not add to the list.
    std::stable_sort(timed_.begin(), timed_.end(),
                     [](const TimedFrame &a, const TimedFrame &b) { return a.at < b.at; });
    std::size_t done = 0;
    for (; done < timed_.size() && timed_[done].at <= now; ++done) {
        send_(timed_[done].frame);
        if (timed_[done].kind == Timed::kSearchEnd) model_.searching = false;
    }
    timed_.erase(timed_.begin(), timed_.begin() + static_cast<std::ptrdiff_t>(done));
    if (now >= nextDemo_) DemoTick(now);
    if (now >= nextDemoFile_) DemoFileTick(now);
}

Clock::time_point HostNode::NextDue(Clock::time_point now) const {
    Clock::time_point due = std::min({model_.txBuffer.NextDue(now), link_.NextDue(), nextDemo_, nextDemoFile_});
    for (const TimedFrame &t : timed_) due = std::min(due, t.at);
    return due;
}

}  // namespace hostsim
