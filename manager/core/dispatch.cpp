#include "manager/core/dispatch.h"

#include "manager/core/debug_packets.h"
#include "manager/core/sending.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

uint16_t ProfileWord(const StatusProfile &profile, std::size_t offset) {
    return static_cast<uint16_t>(profile[offset] | profile[offset + 1] << 8);
}

// Percentage of part in whole; 0 when whole is 0.
int Percent(uint64_t part, uint64_t whole) {
    return whole ? static_cast<int>(part * 100 / whole) : 0;
}

PacketRecord CopyPacket() {
    PacketRecord record{};
    CopyShell(record.data());
    return record;
}

void OnStatusProfile(Core &core, uint8_t kind) {
    AppState &state = core.state;
    StatusProfile profile{};
    GetStatusPacketProfile(profile.data());
    profile[0] = kind;
    state.statusQueue.Push(profile);
    core.view.QueuesFilled();
    state.peerNode.store(profile[2]);
    state.hostFlags.store(profile[3]);
    if (ProfileWord(profile, 19) == 0) state.txCredit.store(ProfileWord(profile, 14));
    if (kind == 1) ShowSendClock(core);
    core.view.SetProgress(ControlId::TransferProgress,
                          Percent(state.sendDone.load(), state.sendSize.load()));
    core.view.SetProgress(ControlId::BufferProgress,
                          Percent(ProfileWord(profile, 12), ProfileWord(profile, 16)));
}

}  // namespace

void HandLinkToWindow(AppState &state) {
    std::lock_guard<std::mutex> gate(state.dispatchGate);
    state.linkMode.store(LINK_WINDOW);
}

void DispatchPacket(Core &core) {
    AppState &state = core.state;
    if (IsValidSignalPacket(nullptr)) {
        state.signalQueue.Push({CopyPacket(), core.Now(), core.clock.Local()});
        core.view.QueuesFilled();
        if (!state.sendFile.IsOpen()) state.lastRxTime.store(core.Now());
        return;
    }
    uint8_t kind = 0;
    if (IsValidDataPacket(nullptr, &kind)) {
        state.dataQueue.Push(CopyPacket());
        core.view.QueuesFilled();
        state.lastRxTime.store(core.Now());
        return;
    }
    if (IsValidStatusPacket(nullptr, &kind)) {
        // Only a report answers the poll: a station's data packets, however many, bring
        // no credit, and a sending waiting for room must still ask for it.
        state.lastPollTime.store(core.Now());
        OnStatusProfile(core, kind);
        return;
    }
    if (IsValidDebugPacket(&kind)) OnDebugPacket(core, kind);
}

}  // namespace meradon
