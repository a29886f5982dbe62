#include "manager/core/debug_packets.h"

#include "manager/core/station_events.h"
#include "manager/core/station_list.h"
#include "manager/core/text_format.h"
#include "manager/core/trace_format.h"
#include "manager/core/trace_rotation.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

void OnDebugPacket(Core &core, uint8_t kind) {
    uint8_t event = 0;
    const uint8_t *payload = GetDebugPacketProfile(&event);
    if (payload) HandleDebugPayload(core, kind, event, payload);
}

void HandleDebugPayload(Core &core, uint8_t kind, uint8_t event, const uint8_t *p) {
    if (kind == 2) {
        RotateTraceFile(core);
        core.state.traceFile.Write(FormatTraceShort(event, p, core.clock.Local()));
        return;
    }
    if (kind != 1) return;
    if (p[kDebugCmd] > 0x80 || event == 5) ShowStationEvent(core, event, p);
    RefreshStationList(core, p + kDebugBitmaps);
    if ((event == 1 || event == 2) && p[kDebugStationA] >= 1) {
        const int row = p[kDebugStationA] - 1;
        core.view.SetStationCell(row, kColumnPeerQuality, Format("%02X-%02X", p[18], p[20]));
        core.view.SetStationCell(row, kColumnOwnQuality, Format("%02X-%02X", p[17], p[19]));
    }
    RotateTraceFile(core);
    core.state.traceFile.Write(FormatTraceLong(event, p, core.clock.Local()));
}

}  // namespace meradon
