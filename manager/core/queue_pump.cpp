#include "manager/core/queue_pump.h"

#include "manager/core/reception.h"
#include "manager/core/station_list.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

void EndSearchIfQuiet(Core &core, int64_t quietMs) {
    AppState &state = core.state;
    if (state.linkMode.load() != LINK_SEARCH || quietMs < kSearchQuietMs) return;
    state.linkMode.store(LINK_WINDOW);
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

}  // namespace

void PumpQueues(Core &core) {
    AppState &state = core.state;
    const int64_t quietMs = core.Since(state.lastRxTime);
    EndSearchIfQuiet(core, quietMs);
    if (quietMs > kReceiveTimeoutMs) ReceiveTimeout(core);
    AutoSave(core);

    StatusProfile profile;
    for (std::size_t i = 0; i < kPumpBatch && state.statusQueue.Pop(profile); ++i)
        ShowHostState(core, profile);
    PacketRecord packet;
    for (std::size_t i = 0; i < kPumpBatch && state.signalQueue.Pop(packet); ++i)
        OnSignalPacket(core, packet.data());
    for (std::size_t i = 0; i < kPumpBatch && state.dataQueue.Pop(packet); ++i)
        TakeDataPacket(core, packet);
}

void ShowHostState(Core &core, const StatusProfile &profile) {
    if ((profile[1] & 0xF0) == (core.state.linkPicture.load() & 0xF0)) return;
    core.state.linkPicture.store(profile[1]);
    core.view.ShowLinkPicture(profile[1]);
}

}  // namespace meradon
