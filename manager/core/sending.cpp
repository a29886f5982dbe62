#include "manager/core/sending.h"

#include <algorithm>
#include <array>
#include <vector>

#include "manager/core/send_report.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

// Stream frame attributes of a file's packets.
constexpr int kFileData = 1;   // packet kind
constexpr int kAttrInfo = 2;
constexpr int kAttrHead = 4;
constexpr int kAttrTail = 8;

constexpr uint8_t kHostIdleMax = 0x10;    // host state nibbles 0x00 and 0x10: idle
constexpr uint8_t kHostConnected = 0x40;  // connected to a peer
constexpr uint8_t kLinkUnsynced = 0;
constexpr uint8_t kLinkAwaitingAck = 2;

uint8_t HostState(const StatusProfile &profile) { return profile[1] & 0xF0; }

StatusProfile ReadProfile() {
    StatusProfile profile{};
    GetStatusPacketProfile(profile.data());
    return profile;
}

uint16_t ProfileWord(const StatusProfile &profile, std::size_t offset) {
    return static_cast<uint16_t>(profile[offset] | profile[offset + 1] << 8);
}

void PutLittleEndian32(uint8_t *out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Refreshes the station list through the window, with the host node in command set mode
// meanwhile, as the window's refresh talks to it.
void RefreshStationsThroughWindow(Core &core) {
    StartNetCenter(0);
    core.SendCommand(CMD_REFRESH);
    StartNetCenter(1);
}

void ActivateBroadcastStations(Core &core) {
    RefreshStationsThroughWindow(core);
    std::vector<uint8_t> stations;
    for (int i = 0; i < kStations; ++i) {
        uint8_t s = core.state.stationState[i].load();
        if ((s & STATION_ACTIVE) && (s & STATION_SUSPENDED)) stations.push_back(uint8_t(i + 1));
    }
    if (stations.empty()) return;
    StartNetCenter(0);
    std::string line = "准备通讯,激活节点 ";
    for (std::size_t i = 0; i < stations.size(); ++i) {
        SetNodeActive(&stations[i], 1);
        line += Format(i ? ",%u" : "%u", stations[i]);
    }
    StartNetCenter(1);
    core.Line(line);
}

// The steps before the file's end need the file.
bool NeedsFile(char step) {
    return step == ACTIVATE || step == SEND_INFO || step == START || step == STREAM;
}

void DisconnectReceiver(Core &core) {
    StopHost();
    core.state.stopHostTime.store(core.Now());
}

// After a sending that ended early, until the host node reports that it left the receiver.
void ReleaseReceiver(Core &core) {
    AppState &state = core.state;
    if (!state.disconnectPending.load()) return;
    const uint8_t hostState = HostState(ReadProfile());
    if (hostState <= kHostIdleMax) {
        state.disconnectPending.store(false);
        return;
    }
    if (hostState == kHostConnected && core.Since(state.stopHostTime) > kDisconnectRetryMs)
        DisconnectReceiver(core);
}

// Ends the sending's `step` unless the window has armed another meanwhile.
void HandSendingBack(Core &core, char step) {
    // The window closes the file on this post; made after the state is idle, it could
    // close the file of a sending the operator starts in between.
    core.view.PostCommand(CMD_TRANSFER_END);
    MoveSending(core.state, step, IDLE);
}

}  // namespace

bool MoveSending(AppState &state, char from, char to) {
    return state.sendState.compare_exchange_strong(from, to);
}

void RecordSendingStart(Core &core, int repeats) {
    AppState &state = core.state;
    core.sendings.Begin(state.sendFile.Path(), state.sendSize.load(), state.sendCrc.load(), state.peerNode.load(),
                        state.loopSend.load() != 0, repeats, core.clock.Local(), core.Now(),
                        StationStates(state));
}

std::array<uint8_t, kStations> StationStates(const AppState &state) {
    std::array<uint8_t, kStations> stations;
    for (int i = 0; i < kStations; ++i) stations[i] = state.stationState[i].load();
    return stations;
}

bool EndSendingEarly(Core &core, char step, StationOutcome why) {
    AppState &state = core.state;
    if (!MoveSending(state, step, IDLE)) return false;
    // Idle before the window is told: "传送" stays off until it is, so no sending can be
    // armed in between. After a cancel it is on already, and the next sending may be
    // armed: its record and its file are not this end's.
    if (why != StationOutcome::Cancelled) {
        core.sendings.EndEarly(why, core.Now());
        core.view.PostCommand(CMD_TRANSFER_END);
    }
    state.disconnectPending.store(true);
    if (!IsShellActive()) return true;  // told once a link is open again
    uint8_t linkState = 0;
    IsShellWritable(&linkState, nullptr);
    RecoverLink(core, linkState);
    DisconnectReceiver(core);
    return true;
}

void RecoverLink(Core &core, uint8_t linkState) {
    AppState &state = core.state;
    state.ackWaitStart.store(kLongAgo);
    const uint8_t handShake = state.handShake.load();
    // Setting the hand-shake again makes the link ready, or has it synchronise anew.
    if (linkState == kLinkAwaitingAck || (linkState == kLinkUnsynced && !handShake))
        SetHostHandShake(handShake);
}

void SendStep(Core &core) {
    if (!IsShellActive()) return;
    ReleaseReceiver(core);
    const char step = core.state.sendState.load();
    if (NeedsFile(step) && !core.state.sendFile.IsOpen()) {
        EndSendingEarly(core, step, StationOutcome::Cancelled);
        return;
    }
    switch (step) {
    case ACTIVATE: ActivateReceivers(core); break;
    case SEND_INFO: SendFileInfo(core); break;
    case START: AnnounceTransfer(core); break;
    case STREAM: SendChunk(core, 0); break;
    case FILE_END: AnnounceFileEnd(core); break;
    case FINISH: FinishTransfer(core); break;
    case REPORT: WriteReport(core); break;
    case END_PASS: EndPass(core); break;
    default: break;
    }
}

void ActivateReceivers(Core &core) {
    AppState &state = core.state;
    if (core.Since(state.passStartTime) > kActivationLimitMs) {
        core.Line(kActivationFailedLine);
        EndSendingEarly(core, ACTIVATE, StationOutcome::NotActivated);
        return;
    }
    if (HostState(ReadProfile()) > kHostIdleMax) {
        state.stepTime.store(core.Now());  // busy: try again 500 ms after it is idle
        return;
    }
    if (core.Since(state.stepTime) <= kActivationRetryMs) return;
    if (!(state.hostFlags.load() & HOST_NEEDS_ACTIVATION)) {
        if (state.txCredit.load() != 0 && state.sendFile.IsOpen()) MoveSending(state, ACTIVATE, SEND_INFO);
        return;
    }
    if (state.sendState.load() != ACTIVATE) return;  // ended meanwhile

    state.retryCount.fetch_add(1);
    state.stepTime.store(core.Now());
    const uint8_t peer = state.peerNode.load();
    if (peer == 0) {
        ActivateBroadcastStations(core);
        return;
    }
    StartNetCenter(0);
    SetPeerNodeID(peer, nullptr);
    StartNetCenter(1);
    QueryHostRTxStatus(nullptr);
    core.Line(Format("准备通讯,激活节点 %u", peer));
}

void SendFileInfo(Core &core) {
    AppState &state = core.state;
    state.sendDone.store(0);
    if (state.txCredit.load() == 0) return;
    const std::string path = state.sendFile.Path();
    state.sendFile.WithFile([&](std::FILE *file) {
        core.view.SetProgress(ControlId::TransferProgress, 0);
        // Measuring the size also rewinds the file, so every pass sends it from its start.
        std::fseek(file, 0, SEEK_END);
        long size = std::ftell(file);
        std::fseek(file, 0, SEEK_SET);
        uint8_t info[8];
        PutLittleEndian32(info, static_cast<uint32_t>(size > 0 ? size : 0));
        PutLittleEndian32(info + 4, QuickFileCRC32(path.c_str()));
        WriteStreamToShell(info, sizeof info, state.peerNode.load(), kFileData, kAttrInfo);
        state.txCredit.store(0);
        MoveSending(state, SEND_INFO, START);
    });
}

void AnnounceTransfer(Core &core) {
    const uint8_t peer = core.state.peerNode.load();
    core.Line(peer ? Format("开始传输,接收点为 %u", peer) : std::string("开始传输,广播模式"));
    if (MoveSending(core.state, START, STREAM)) SendChunk(core, kAttrHead);
}

void SendChunk(Core &core, int attribute) {
    AppState &state = core.state;
    const std::string path = state.sendFile.Path();
    // The chunk is read and handed to the link under the file's lock: once the window has
    // closed the file, nothing more of it is sent.
    state.sendFile.WithFile([&](std::FILE *file) {
        if (state.hostFlags.load() & HOST_RECEIVER_SUSPENDED) {
            state.retryCount.fetch_add(1);
            return;
        }
        uint16_t granted = 0;
        if (!IsShellWritable(nullptr, &granted)) return;
        std::array<uint8_t, 256> chunk;
        const uint32_t size = state.sendSize.load();
        const uint32_t left = size - std::min(size, state.sendDone.load());
        const std::size_t wanted = std::min<std::size_t>({granted, chunk.size(), left});
        std::size_t count = std::fread(chunk.data(), 1, wanted, file);
        if (count < wanted) {
            // The file shrank or cannot be read: the host node is not to blame.
            core.Line(Format("读取文件失败,传输中止: %s", path.c_str()));
            EndSendingEarly(core, STREAM, StationOutcome::FileUnreadable);
            return;
        }
        const uint32_t done = state.sendDone.fetch_add(static_cast<uint32_t>(count)) +
                              static_cast<uint32_t>(count);
        if (done >= size) {
            MoveSending(state, STREAM, FILE_END);
            attribute |= kAttrTail;
        }
        if (count) WriteStreamToShell(chunk.data(), static_cast<uint32_t>(count),
                                      state.peerNode.load(), kFileData, attribute);
        state.txCredit.store(0);

        const unsigned long loops = state.loopCount.load();
        std::string text = Format("%lu/%lu", static_cast<unsigned long>(done),
                                  static_cast<unsigned long>(size));
        if (loops) text += Format(" X%lu", loops);
        core.view.SetControlText(ControlId::TransferText, text + " bytes");
        state.lastPollTime.store(core.Now());

        if (done < size) return;
        state.sendDone.store(0);
        if (state.loopSend.load())
            state.loopCount.fetch_add(1);
        else
            core.view.PostCommand(CMD_FILE_SENT);
    });
}

void AnnounceFileEnd(Core &core) {
    core.Line("文件结束,等待传输完成");
    MoveSending(core.state, FILE_END, FINISH);
}

void FinishTransfer(Core &core) {
    StatusProfile profile = ReadProfile();
    if (ProfileWord(profile, 12) != 0) return;  // bytes still in the host's send buffer
    if (HostState(profile) == kHostConnected) DisconnectReceiver(core);
    core.Line("传输完成,正在断开连接...");
    MoveSending(core.state, FINISH, REPORT);
}

void WriteReport(Core &core) {
    AppState &state = core.state;
    const uint8_t hostState = HostState(ReadProfile());
    // The disconnect goes without an answer; one lost on the way would keep the host node
    // connected, and the report waiting, for ever.
    if (hostState == kHostConnected && core.Since(state.stopHostTime) > kDisconnectRetryMs)
        DisconnectReceiver(core);
    if (hostState > kHostIdleMax) return;
    if (!MoveSending(state, REPORT, END_PASS)) return;  // the link was closed: no report
    core.Line("连接断开,正在生成报告...");
    RefreshStationsThroughWindow(core);

    const std::array<uint8_t, kStations> stations = StationStates(state);
    // One reading of the clock, so that the results list the duration the report gives.
    const int64_t now = core.Now();
    core.sendings.Report(state.peerNode.load(), state.hostFlags.load(), stations, now);
    for (const std::string &line : ReportLines(state.peerNode.load(), state.hostFlags.load(), stations,
                                               WholeSeconds(now - state.passStartTime.load())))
        core.Indented(line);
}

void EndPass(Core &core) {
    AppState &state = core.state;
    if (state.loopSend.load()) {
        if (!MoveSending(state, END_PASS, ACTIVATE)) return;
        // A cancelled loop has no file left to send: no pass follows to be listed.
        if (state.sendFile.IsOpen()) RecordSendingStart(core, 0);
    } else {
        HandSendingBack(core, END_PASS);
    }
    state.passStartTime.store(core.Now());
}

void ShowSendClock(Core &core) {
    if (!core.state.sendFile.IsOpen()) return;
    const int64_t elapsedMs = core.Since(core.state.sendStartTime);
    const uint64_t s = elapsedMs > 0 ? static_cast<uint64_t>(elapsedMs) / 1000 : 0;
    core.view.SetControlText(ControlId::ElapsedClock,
                             Format("%02u:%02u:%02u", static_cast<unsigned>(s / 3600),
                                    static_cast<unsigned>(s / 60 % 60),
                                    static_cast<unsigned>(s % 60)));
}

}  // namespace meradon
