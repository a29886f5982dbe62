#include "manager/core/send_watch.h"

namespace meradon {

namespace {

constexpr int32_t kSuspendedTicksAllowed = 3;

}  // namespace

void WatchLinkDuringSend(Core &core, uint8_t linkState) {
    AppState &state = core.state;
    if (!state.sendFile.IsOpen()) return;
    if (linkState == 0) {
        core.view.PostCommand(CMD_TRANSFER_END);
        state.outOfStepShown.store(true);
        core.MessageBox("串口通讯失步，请检查后重试！");
        RestoreSendControls(core);
        return;
    }
    if (linkState > 2) return;

    bool ended = false;
    if ((state.hostFlags.load() & HOST_RECEIVER_SUSPENDED) &&
        state.retryCount.load() > kSuspendedTicksAllowed) {
        state.retryCount.store(0);
        if (state.loopSend.load()) {
            state.sendState.store(ACTIVATE);
            core.Line("接收节点故障,正在重试...");
            return;
        }
        core.view.PostCommand(CMD_TRANSFER_END);
        state.sendState.store(IDLE);
        core.MessageBox("接收节点故障      \r\n请检查后重新传输");
        core.SendCommand(CMD_REFRESH);
        ended = true;
    }
    if (!(state.hostFlags.load() & HOST_RECEIVER_ACTIVE)) {
        core.view.PostCommand(CMD_TRANSFER_END);
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
