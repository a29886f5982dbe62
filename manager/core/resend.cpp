// Resend to the failed: the Manager's part that repeats a sending to the stations it did
// not reach, one single-station sending after the other.
#include <algorithm>
#include <cstdint>

#include "manager/core/dispatch.h"
#include "manager/core/history/history_reader.h"
#include "manager/core/manager.h"
#include "manager/core/sending.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

// Pause between the end of one resend and the start of the next: the window handles the
// end of a sending (CMD_TRANSFER_END) before another file is opened.
constexpr int64_t kResendPauseMs = 500;
// How often a resend looks again whether it can go on: the worker ends a station's
// sending, and the window closes its file, without a step being due; and a pause that has
// passed while the link is not in data transfer mode waits for it.
constexpr int64_t kResendWatchMs = 10;

// Runs host-node commands from the window thread in command set mode, as the window's own
// commands do, then gives the link back to the worker.
template <typename Commands>
void InCommandSetMode(AppState &state, Commands commands) {
    HandLinkToWindow(state);
    StartNetCenter(0);
    commands();
    StartNetCenter(1);
    state.linkMode.store(LINK_DATA);
}

// The file is still the one the sending sent: it opens, with the size and CRC-32 recorded
// (a sending of the history store whose CRC-32 could not be computed: the size alone).
bool FileAsRecorded(const SendingRecord &record) {
    SendFile file;
    if (!file.Open(record.path) || file.Size() != record.size) return false;
    file.Close();
    return record.crc == kCrcNotComputed || QuickFileCRC32(record.path.c_str()) == record.crc;
}

}  // namespace

bool Manager::ReadyToResend() const {
    const AppState &state = core_.state;
    // With loop sending checked, each resend would repeat without end.
    return state.linkMode.load() == LINK_DATA && state.sendState.load() == IDLE &&
           !state.sendFile.IsOpen() && !state.loopSend.load() && !Resending();
}

ResendResult Manager::ResendFailed(int id) {
    if (!ReadyToResend()) return ResendResult::NotReady;
    const std::optional<SendingRecord> record = core_.sendings.Find(id);
    const std::vector<uint8_t> failed = core_.sendings.FailedStations(id);
    if (!record || failed.empty()) return ResendResult::NothingFailed;
    // Checked before anything reaches the host node, which is left as it is when it fails.
    if (!FileAsRecorded(*record)) return ResendResult::CannotOpen;
    return StartResend(id, *record, failed);
}

ResendResult Manager::ResendStored(int row) {
    if (!ReadyToResend()) return ResendResult::NotReady;
    std::optional<StoredSending> sending;
    std::vector<uint8_t> failed;
    try {
        HistoryReader store(core_.output.Path() / kHistoryFileName);
        sending = store.Sending(row);
        failed = store.StillFailed(row);
    } catch (const DatabaseError &) {
        return ResendResult::NothingFailed;
    }
    if (!sending || failed.empty()) return ResendResult::NothingFailed;
    if (!FileAsRecorded(sending->record)) return ResendResult::CannotOpen;
    return StartResend(-row, sending->record, failed);
}

ResendResult Manager::StartResend(int of, const SendingRecord &sending, const std::vector<uint8_t> &stations) {
    resend_ = ResendPlan{of, sending, stations, core_.state.peerNode.load(), false, core_.Now()};
    const uint8_t first = resend_.stations.front();
    resend_.stations.erase(resend_.stations.begin());
    if (!StartResendTo(first)) {
        EndResend();
        return ResendResult::CannotOpen;
    }
    return ResendResult::Started;
}

void Manager::StepResend() {
    AppState &state = core_.state;
    if (state.linkMode.load() != LINK_DATA) return;
    const bool idle = state.sendState.load() == IDLE && !state.sendFile.IsOpen();
    if (!idle) return;
    if (resend_.running) {
        resend_.running = false;
        resend_.nextStartMs = core_.Now() + kResendPauseMs;
    }
    if (core_.Now() < resend_.nextStartMs) return;
    if (resend_.stations.empty()) {
        EndResend();
        return;
    }
    const uint8_t next = resend_.stations.front();
    resend_.stations.erase(resend_.stations.begin());
    if (!FileAsRecorded(resend_.sending) || !StartResendTo(next)) EndResend();
}

int64_t Manager::ResendDueInMs() {
    if (!Resending()) return INT64_MAX;
    if (resend_.running) return kResendWatchMs;
    return std::max(resend_.nextStartMs - core_.Now(), kResendWatchMs);
}

bool Manager::StartResendTo(uint8_t station) {
    AppState &state = core_.state;
    InCommandSetMode(state, [&] {
        SetNodeActive(&station, 1);
        SetPeerNodeID(station, nullptr);
    });
    state.peerNode.store(station);
    if (PrepareSending(resend_.sending.path, resend_.of) != PrepareResult::Armed) return false;
    resend_.running = true;
    MeradonView &view = core_.view;
    view.EnableSendSetup(false);
    view.EnableControl(ControlId::Send, false);
    view.EnableControl(ControlId::Cancel, true);
    return true;
}

void Manager::EndResend() {
    AppState &state = core_.state;
    const uint8_t peer = resend_.peerBefore;
    resend_ = ResendPlan{};
    state.peerNode.store(peer);
    if (IsShellActive()) InCommandSetMode(state, [&] { SetPeerNodeID(peer, nullptr); });
    // The window kept its sending controls off between the stations; this end gives
    // them back.
    core_.view.PostCommand(CMD_TRANSFER_END);
}

}  // namespace meradon
