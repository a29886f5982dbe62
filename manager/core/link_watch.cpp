#include "manager/core/link_watch.h"

#include "manager/core/send_watch.h"
#include "manager/core/sending.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

// A longer gap between two passes means the worker was not listening (a command of the
// window held it), so the host node had nothing to answer meanwhile.
constexpr int64_t kListeningGapMs = 100;

// A sending whose report has not been written: still being handed over, not yet known to
// have arrived, or cancelled without a verdict; or a loop between its passes. A file open
// while idle is a sending being armed now, which closing the link ends.
void FailUnfinishedSending(Core &core) {
    const char step = core.state.sendState.load();
    if (step == IDLE || (step == END_PASS && !core.state.sendFile.IsOpen())) return;
    if (EndSendingEarly(core, step, StationOutcome::LinkLost)) core.Line(kSendingFailedLine);
}

void EndHungUpLink(Core &core) {
    AppState &state = core.state;
    state.linkMode.store(LINK_WINDOW);  // the worker's own pass: it holds the dispatch gate
    FailUnfinishedSending(core);
    const std::string what = Format("与主节点的连接已断开: %s", core.view.LinkSelectorText().c_str());
    core.Line(what + ",连接已关闭");
    core.view.PostCommand(CMD_LINK_LOST);
    // After the out-of-step box the operator already knows; the record line says the rest.
    if (!state.outOfStepShown.exchange(false)) core.MessageBox(what + "\r\n请检查后重新打开");
}

// Tells the operator once when the host node falls silent, and once when it answers again.
void WatchSilence(Core &core, bool silent) {
    AppState &state = core.state;
    if (state.hostSilent.exchange(silent) == silent) return;
    const std::string where = core.view.LinkSelectorText();
    if (!silent) {
        core.Line(Format("主节点恢复应答: %s", where.c_str()));
        return;
    }
    FailUnfinishedSending(core);
    core.Line(Format("主节点没有应答: %s", where.c_str()));
    state.linkPicture.store(kSilentHostPicture);
    core.view.ShowLinkPicture(kSilentHostPicture);
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
    if (IsShellActive()) {
        if (state.linkMode.load() == LINK_DATA)
            WatchSilence(core, now - state.lastHeardTime.load() >= kSilentLinkMs);
        return false;
    }
    // The window closing the link clears the flag before it closes the shell.
    if (!state.linkOpen.exchange(false)) return false;
    EndHungUpLink(core);
    return true;
}

}  // namespace meradon
