#include "manager/core/queue_pump.h"

#include <algorithm>

#include "manager/core/dispatch.h"
#include "manager/core/reception.h"
#include "manager/core/station_list.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

void EndSearchIfQuiet(Core &core, int64_t quietMs) {
    AppState &state = core.state;
    if (state.linkMode.load() != LINK_SEARCH || quietMs < kSearchQuietMs) return;
    HandLinkToWindow(state);
    state.linkPicture.store(LINK_PICTURE_IDLE);
    core.view.ShowLinkPicture(LINK_PICTURE_IDLE);
    core.view.EnableControl(ControlId::CommandMode, true);
    core.view.EnableControl(ControlId::DataMode, true);
}

void AutoSave(Core &core) {
    if (core.Since(core.state.autoSaveTime) <= kAutoSaveMs) return;
    if (core.view.IsChecked(ControlId::AutoSave)) core.view.SaveRecords(true);
    core.state.autoSaveTime.store(core.Now());
}

void TakeDataPacket(Core &core, const PacketRecord &packet) {
    uint8_t kind = 0;
    if (!IsValidDataPacket(packet.data(), &kind)) return;
    OnDataPacket(core, packet.data());
    if (IsDataPacketTail(packet.data()))
        core.Indented(Format("文件:%s", core.state.recvPath.c_str()));
}

// Takes at most one batch from `queue`: how many entries it took.
template <typename Record, std::size_t BlockRecords, typename Take>
std::size_t TakeBatch(SpscQueue<Record, BlockRecords> &queue, Take take) {
    Record record;
    std::size_t taken = 0;
    while (taken < kPumpBatch && queue.Pop(record)) {
        take(record);
        ++taken;
    }
    return taken;
}

}  // namespace

QueuesTaken PumpQueues(Core &core) {
    AppState &state = core.state;
    const int64_t quietMs = core.Since(state.lastRxTime);
    EndSearchIfQuiet(core, quietMs);
    if (quietMs > kReceiveTimeoutMs) ReceiveTimeout(core);
    AutoSave(core);

    QueuesTaken taken;
    for (const std::size_t count :
         {TakeBatch(state.statusQueue, [&](const StatusProfile &p) { ShowHostState(core, p); }),
          TakeBatch(state.signalQueue, [&](const SignalRecord &r) { OnSignalPacket(core, r); }),
          TakeBatch(state.dataQueue, [&](const PacketRecord &p) { TakeDataPacket(core, p); })}) {
        taken.took = taken.took || count > 0;
        taken.left = taken.left || count == kPumpBatch;
    }
    // Written per batch rather than per packet: a flood would otherwise cost a write to
    // the disk for each packet.
    if (state.recvFile) std::fflush(state.recvFile.get());
    return taken;
}

int64_t MsUntilDue(Core &core) {
    AppState &state = core.state;
    const int64_t quietMs = core.Since(state.lastRxTime);
    int64_t due = kAutoSaveMs + 1 - core.Since(state.autoSaveTime);
    if (state.linkMode.load() == LINK_SEARCH) due = std::min(due, kSearchQuietMs - quietMs);
    if (state.recvFile) due = std::min(due, kReceiveTimeoutMs + 1 - quietMs);
    return std::max<int64_t>(due, 0);
}

void ShowHostState(Core &core, const StatusProfile &profile) {
    if ((profile[1] & 0xF0) == (core.state.linkPicture.load() & 0xF0)) return;
    core.state.linkPicture.store(profile[1]);
    core.view.ShowLinkPicture(profile[1]);
}

}  // namespace meradon
