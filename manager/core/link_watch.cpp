#include "manager/core/link_watch.h"

#include "manager/core/send_watch.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

// A longer gap between two passes means the worker was not listening (a message box or a
// command of the window held it), so the host node had nothing to answer meanwhile.
constexpr int64_t kListeningGapMs = 100;

enum class LinkEnd { kHungUp, kSilent };

// A sending whose report has not been written: still being handed over, not yet known to
// have arrived, or ended early (out of step, cancelled) without a verdict.
bool SendingUnfinished(AppState &state) {
    if (state.sendFile.IsOpen()) return true;
    const char step = state.sendState.load();
    return step != IDLE && step != END_PASS;
}

void EndLink(Core &core, LinkEnd end) {
    AppState &state = core.state;
    state.linkMode.store(LINK_WINDOW);
    if (SendingUnfinished(state)) {
        core.view.PostCommand(CMD_TRANSFER_END);
        state.sendState.store(IDLE);
        core.sendings.EndEarly(StationOutcome::LinkLost, core.Now());
        core.Line(kSendingFailedLine);
    }
    const std::string where = core.view.LinkSelectorText();
    const std::string what = end == LinkEnd::kHungUp ? Format("与主节点的连接已断开: %s", where.c_str())
                                                     : Format("主节点没有应答: %s", where.c_str());
    core.Line(what + ",连接已关闭");
    core.view.PostCommand(CMD_LINK_LOST);
    // After the out-of-step box the operator already knows; the record line says the rest.
    if (!state.outOfStepShown.exchange(false)) core.MessageBox(what + "\r\n请检查后重新打开");
}

}  // namespace

void NoteLinkHeard(Core &core) {
    core.state.lastHeardTime.store(core.Now());
    core.state.outOfStepShown.store(false);
}

bool WatchLinkEnd(Core &core) {
    AppState &state = core.state;
    const int64_t now = core.Now();
    const int64_t lastTick = state.lastTickTime.exchange(now);
    if (state.linkMode.load() != LINK_DATA || now - lastTick > kListeningGapMs)
        state.lastHeardTime.store(now);
    if (!state.linkOpen.load()) return false;
    LinkEnd end = LinkEnd::kHungUp;
    if (IsShellActive()) {
        if (now - state.lastHeardTime.load() < kSilentLinkMs) return false;
        end = LinkEnd::kSilent;
    }
    // The window closing the link clears the flag before it closes the shell.
    if (!state.linkOpen.exchange(false)) return false;
    EndLink(core, end);
    return true;
}

}  // namespace meradon
