#include "manager/core/send_watch.h"

#include "manager/core/sending.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

constexpr int32_t kSuspendedTicksAllowed = 3;

// True once the link has awaited one acknowledgement longer than it can come.
bool AcknowledgementOverdue(Core &core, uint8_t linkState) {
    AppState &state = core.state;
    if (linkState != 2) {
        state.ackWaitStart.store(kLongAgo);
        return false;
    }
    if (state.ackWaitStart.load() == kLongAgo) state.ackWaitStart.store(core.Now());
    return core.Since(state.ackWaitStart) > kAcknowledgementLimitMs;
}

// The file has been handed over but the report is not written yet.
bool AwaitingReport(char sendState) {
    return sendState == FILE_END || sendState == FINISH || sendState == REPORT;
}

}  // namespace

void WatchLinkDuringSend(Core &core, uint8_t linkState) {
    AppState &state = core.state;
    const bool lost = linkState == 0 || AcknowledgementOverdue(core, linkState);
    const char step = state.sendState.load();
    if (step == IDLE) return;  // ended; the window is closing the file
    if (step == ACTIVATE && linkState == 0 && IsShellActive()) {
        // Nothing of the file is on the link yet: the sending waits for the link to be in
        // step again (activation has its own time limit) rather than failing at once.
        RecoverLink(core, linkState);
        return;
    }
    if (!state.sendFile.IsOpen()) {
        if (!lost || !AwaitingReport(step)) return;
        // Whether the host node got the file's end is unknown: no report, which would
        // name the station as reached.
        if (!EndSendingEarly(core, step, StationOutcome::LinkLost)) return;
        core.Line(kSendingFailedLine);
        core.MessageBox("串口通讯失步，请检查后重试！");
        return;
    }
    if (lost) {
        if (!EndSendingEarly(core, step, StationOutcome::LinkLost)) return;
        core.Line(kSendingFailedLine);
        state.outOfStepShown.store(true);
        core.MessageBox("串口通讯失步，请检查后重试！");
        RestoreSendControls(core);
        return;
    }
    // Once the file's end is handed over, the host node leaving the receiver is how the
    // pass ends (it is told to after every file): the report judges the stations, as it
    // does after a single sending, whose file is closed by then.
    if (linkState > 2 || AwaitingReport(step) || step == END_PASS) return;

    bool ended = false;
    if ((state.hostFlags.load() & HOST_RECEIVER_SUSPENDED) &&
        state.retryCount.load() > kSuspendedTicksAllowed) {
        state.retryCount.store(0);
        core.sendings.EndEarly(StationOutcome::ReceiverFault, core.Now());
        if (state.loopSend.load()) {
            if (!MoveSending(state, step, ACTIVATE)) return;
            RecordSendingStart(core, 0);
            core.Line("接收节点故障,正在重试...");
            return;
        }
        if (!EndSendingEarly(core, step, StationOutcome::ReceiverFault)) return;
        core.MessageBox("接收节点故障      \r\n请检查后重新传输");
        core.SendCommand(CMD_REFRESH);
        ended = true;
    }
    // A receiver that awaits its activation is named, only not active yet: activation
    // goes on (within its time limit) rather than ending as if none was named.
    const uint8_t flags = state.hostFlags.load();
    const bool awaitingActivation = step == ACTIVATE && (flags & HOST_NEEDS_ACTIVATION);
    if (!(flags & HOST_RECEIVER_ACTIVE) && !awaitingActivation) {
        if (!ended && !EndSendingEarly(core, step, StationOutcome::NoReceiver)) return;
        core.MessageBox("接收节点未指定      \r\n请检查后重新传输");
        RestoreSendControls(core);
        return;
    }
    if (ended) RestoreSendControls(core);
}

void RestoreSendControls(Core &core) {
    core.view.EnableControl(ControlId::Send, true);
    core.view.FocusControl(ControlId::Send);
    core.view.EnableControl(ControlId::Cancel, false);
    core.view.EnableSendSetup(true);
}

}  // namespace meradon
