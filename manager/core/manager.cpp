#include "manager/core/manager.h"

#include <algorithm>

#include "manager/core/dispatch.h"
#include "manager/core/priority.h"
#include "manager/core/queue_pump.h"
#include "manager/core/reception.h"
#include "manager/core/sending.h"
#include "manager/core/station_list.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

// Bytes of a file's path that a sending keeps, as the window's field always passed it.
constexpr std::size_t kSendPathMax = 254;

}  // namespace

Manager::Manager(MeradonView &view, Clock &clock, std::filesystem::path outputDir)
    : core_(view, clock, std::move(outputDir)), worker_(core_) {
    core_.state.linkMode.OnHandOver([this] { worker_.Wake(); });
}

Manager::~Manager() { Stop(); }

void Manager::Start(int retentionDays) {
    AppState &state = core_.state;
    const int64_t now = core_.Now();
    state.lastPollTime.store(now);
    state.autoSaveTime.store(now);
    state.traceFileTime.store(now);
    state.linkMode.store(LINK_NO_MODE);
    state.loopSend.store(core_.view.IsChecked(ControlId::LoopSending) ? 1 : 0);
    RaiseThreadPriority(kWindowNice);
    core_.OpenHistory(retentionDays);
    worker_.Start();
}

void Manager::Stop() {
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
    state.sendCrc.store(QuickFileCRC32(path.c_str()));
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

const char *PrepareResultText(PrepareResult result) {
    switch (result) {
    case PrepareResult::NoPath: return "请输入文件名！";
    case PrepareResult::CannotOpen: return "打开文件失败，请确认文件位置！";
    case PrepareResult::EmptyFile: return "文件长度为零,请重新选择文件";
    case PrepareResult::Armed:
    case PrepareResult::NotReady: break;
    }
    return "";
}

PrepareResult Manager::StartSending(const std::string &path) {
    if (!InDataMode()) return PrepareResult::NotReady;
    return PrepareSending(path.substr(0, kSendPathMax));
}

bool Manager::InDataMode() const { return IsShellActive() && core_.state.linkMode.load() == LINK_DATA; }

void Manager::SendingCancelled() {
    core_.Line("传输已取消");
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
    state.linkMode.store(LINK_NO_MODE);
    state.stepTime.store(core_.Now());
    state.linkOpen.store(true);
}

bool Manager::EnterCommandMode() {
    AppState &state = core_.state;
    HandLinkToWindow(state);
    SetHostHandShake(0);
    if (StartNetCenter(0) != 1 || StartMonitorService(0) != 1) {
        state.linkMode.store(LINK_NO_MODE);
        return false;
    }
    return true;
}

bool Manager::EnterDataMode(bool traceOutput, bool retransmission) {
    AppState &state = core_.state;
    HandLinkToWindow(state);
    SetHostHandShake(0);
    if (StartNetCenter(1) != 1 || StartMonitorService(traceOutput ? 1 : 0) != 1) {
        state.linkMode.store(LINK_NO_MODE);
        return false;
    }
    state.handShake.store(retransmission ? 1 : 0);
    if (retransmission) SetHostHandShake(1);
    state.linkMode.store(LINK_DATA);
    return true;
}

void Manager::WindowUsedLink() {
    AppState &state = core_.state;
    // Only while the window holds the link: in the other modes the worker may hold the
    // library for seconds, and it watches the link itself.
    if (state.linkMode.load() == LINK_WINDOW && state.linkOpen.load() && !IsShellActive()) worker_.Wake();
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
    {
        // A packet the worker is dispatching now lands before the queues are emptied; any
        // later one finds the link closed and is dropped.
        std::lock_guard<std::mutex> gate(state.dispatchGate);
        state.linkMode.store(LINK_WINDOW);
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
    for (auto &shown : state.lastSignal) shown.fill(0x80);
    uint8_t start = 1;
    if (SearchZelkoraNetwork(&start) != 1) return false;
    state.lastRxTime.store(core_.Now());
    state.linkMode.store(LINK_SEARCH);
    return true;
}

std::string Manager::KeepRecordLine(const std::string &text, LineStyle style) {
    return core_.record.Add(text, style, core_.clock.Local());
}

std::filesystem::path Manager::SaveRecord(bool forgetSaved) {
    const std::string selector = core_.view.LinkSelectorText();
    if (forgetSaved) {
        std::filesystem::path saved = core_.record.SaveAndForget(core_.output, selector, core_.clock.Local());
        if (const std::size_t dropped = core_.record.TakeDropped())
            core_.Line(Format("操作记录无法保存,最早的 %zu 行已丢弃 (history.sqlite 中仍有)", dropped));
        return saved;
    }
    return core_.record.Save(core_.output, selector, core_.clock.Local());
}

}  // namespace meradon
