#include "manager/core/manager.h"

#include <algorithm>

#include "manager/core/priority.h"
#include "manager/core/queue_pump.h"
#include "manager/core/reception.h"
#include "manager/core/sending.h"
#include "manager/core/station_list.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

Manager::Manager(MeradonView &view, Clock &clock, std::filesystem::path outputDir)
    : core_(view, clock, std::move(outputDir)), worker_(core_) {}

Manager::~Manager() { Stop(); }

void Manager::Start() {
    AppState &state = core_.state;
    const int64_t now = core_.Now();
    state.lastPollTime.store(now);
    state.autoSaveTime.store(now);
    state.traceFileTime.store(now);
    state.linkMode.store(LINK_NO_MODE);
    state.loopSend.store(core_.view.IsChecked(ControlId::LoopSending) ? 1 : 0);
    RaiseThreadPriority(kWindowNice);
    core_.OpenHistory();
    worker_.Start();
}

void Manager::Stop() {
    core_.messageBox.Release();
    core_.command.Release();
    worker_.Stop();
    core_.history.Close();
}

WindowStep Manager::PumpQueues() {
    WindowStep step;
    const QueuesTaken taken = meradon::PumpQueues(core_);
    step.queuedTook = taken.took;
    step.queuedLeft = taken.left;
    if (Resending()) StepResend();
    step.dueInMs = std::min(MsUntilDue(core_), ResendDueInMs());
    return step;
}

PrepareResult Manager::PrepareSending(const std::string &path, int repeats) {
    AppState &state = core_.state;
    if (path.empty()) return PrepareResult::NoPath;
    if (!state.sendFile.Open(path)) return PrepareResult::CannotOpen;
    const uint32_t size = state.sendFile.Size();
    if (size == 0) {
        state.sendFile.Close();
        return PrepareResult::EmptyFile;
    }
    state.sendSize.store(size);
    state.loopCount.store(0);
    state.retryCount.store(0);
    const int64_t now = core_.Now();
    state.sendStartTime.store(now);
    state.passStartTime.store(now);
    state.sendState.store(ACTIVATE);
    RecordSendingStart(core_, repeats);
    worker_.Wake();
    return PrepareResult::Armed;
}

void Manager::SendingCancelled() {
    core_.sendings.EndEarly(StationOutcome::Cancelled, core_.Now());
    if (Resending()) EndResend();
}

void Manager::FinishSending() {
    AppState &state = core_.state;
    state.txCredit.store(0);
    state.sendFile.Close();
    state.retryCount.store(0);
    worker_.Wake();  // a sending cancelled ends with the file it no longer has
}

void Manager::LinkOpened() {
    AppState &state = core_.state;
    state.outOfStepShown.store(false);
    state.hostSilent.store(false);
    state.lastHeardTime.store(core_.Now());
    state.linkOpen.store(true);
}

void Manager::CloseLink() {
    AppState &state = core_.state;
    state.linkOpen.store(false);  // first: the worker must not take this close for a loss
    // A closed link leaves nothing armed, and the host node not connected to a receiver.
    if (state.sendFile.IsOpen() || state.sendState.load() != IDLE) {
        StopHost();
        state.sendState.store(IDLE);
        FinishSending();
        core_.view.PostCommand(CMD_TRANSFER_END);
    }
    // Also a sending whose file is handed over but whose report is still to come.
    core_.sendings.EndEarly(StationOutcome::LinkLost, core_.Now());
    resend_ = ResendPlan{};  // the host node's peer cannot be restored without the link
    state.linkMode.store(LINK_WINDOW);
    {
        // A packet the worker is dispatching now lands before the queues are emptied; any
        // later one finds the link closed and is dropped.
        std::lock_guard<std::mutex> gate(state.dispatchGate);
        EndReceptionWithLink(core_);
        state.traceFile.Close();
        state.dataQueue.Clear();
        state.signalQueue.Clear();
        state.statusQueue.Clear();
    }
    CloseShell();
}

bool Manager::RefreshFromHost() {
    uint8_t status[1024] = {};
    uint8_t length = 0;
    if (GetNetworkNodeStatus(status, sizeof status, &length) != 1) return false;
    meradon::RefreshStationList(core_, status);
    return true;
}

void Manager::RefreshStationList(const uint8_t *bitmaps) { meradon::RefreshStationList(core_, bitmaps); }

bool Manager::StartNetworkSearch() {
    AppState &state = core_.state;
    for (auto &s : state.stationState) s.store(0xFF);
    state.lastSignal.fill(0x80);
    uint8_t start = 1;
    if (SearchZelkoraNetwork(&start) != 1) return false;
    state.lastRxTime.store(core_.Now());
    state.linkMode.store(LINK_SEARCH);
    return true;
}

}  // namespace meradon
