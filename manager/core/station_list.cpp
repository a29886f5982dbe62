#include "manager/core/station_list.h"

#include <algorithm>

#include "manager/core/dispatch.h"
#include "manager/core/reception.h"
#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

const char *const kYes = "√";
const char *const kNo = "Х";
const char *const kNoLink = "♂";

constexpr uint8_t kSearchSignal = 0x90;  // high nibble of a network-search signal
constexpr uint8_t kEndOfSearch = 0xFF;   // station byte of the search-end signal

bool Bit(const uint8_t *map, int station) { return (map[station / 8] >> (station % 8)) & 1; }

void SetColumnsFromState(MeradonView &view, int row, uint8_t state) {
    SetStationColumns(view, row, state & STATION_ACTIVE, state & STATION_ONLINE,
                      state & STATION_LINK, state & STATION_SUSPENDED);
}

// Every signal packet's quality bytes go into the station's ring for the plot, the day's
// file and the history store, stamped when the worker took the packet.
void KeepQuality(Core &core, const uint8_t *p, const SignalRecord &signal) {
    if (p[1] == 0 || p[1] > kLastQualityStation) return;
    const QualityValues values{p[3], p[4], p[5], p[6]};
    core.quality.Add(p[1], signal.timeMs, values);
    if (!core.qualityLog.Append(signal.local, p[1], values)) ReportFileError(core);
    core.history.Add(QualityFact{signal.local, p[1], values});
}

}  // namespace

void SetStationColumns(MeradonView &view, int row, bool active, bool online, bool link,
                       bool suspended) {
    view.SetStationCell(row, kColumnActive, active ? kYes : kNo);
    view.SetStationCell(row, kColumnOnline, online ? kYes : kNo);
    view.SetStationCell(row, kColumnLink, link ? kYes : kNoLink);
    view.SetStationCell(row, kColumnSuspended, suspended ? kYes : kNo);
}

void RefreshStationList(Core &core, const uint8_t *bitmaps) {
    AppState &state = core.state;
    const uint8_t *active = bitmaps, *online = bitmaps + 32, *link = bitmaps + 64,
                  *suspended = bitmaps + 96;
    for (int s = 1; s <= kStations; ++s) {
        uint8_t now = static_cast<uint8_t>(
            (Bit(active, s) ? STATION_ACTIVE : 0) | (Bit(online, s) ? STATION_ONLINE : 0) |
            (Bit(link, s) ? STATION_LINK : 0) | (Bit(suspended, s) ? STATION_SUSPENDED : 0));
        if (now == state.stationState[s - 1].load()) continue;
        SetColumnsFromState(core.view, s - 1, now);
        if (state.listPrimed.load()) core.view.SelectStationRow(s - 1);
        state.stationState[s - 1].store(now);
    }
    state.listPrimed.store(1);
}

void OnSignalPacket(Core &core, const SignalRecord &signal) {
    const uint8_t *p = GetSignalPacketProfile(signal.packet.data());
    if (!p) return;
    KeepQuality(core, p, signal);
    ShowStationFromSignal(core, p);
    if ((p[0] & 0xF0) != kSearchSignal) return;
    AppState &state = core.state;
    state.lastRxTime.store(core.Now());
    if (p[1] != kEndOfSearch) return;
    state.linkPicture.store(LINK_PICTURE_IDLE);
    HandLinkToWindow(state);
    core.view.ShowLinkPicture(LINK_PICTURE_IDLE);
    core.view.EnableControl(ControlId::CommandMode, true);
    core.view.EnableControl(ControlId::DataMode, true);
}

void ShowStationFromSignal(Core &core, const uint8_t *p) {
    AppState &state = core.state;
    if (p[1] == 0) return;
    if ((p[0] & 0xF0) != (state.linkPicture.load() & 0xF0)) {
        state.linkPicture.store(p[0]);
        core.view.ShowLinkPicture(p[0]);
    }
    const int row = p[1] - 1;
    if (p[2] != state.stationState[row].load()) {
        SetColumnsFromState(core.view, row, p[2]);
        state.stationState[row].store(p[2]);
        core.view.SelectStationRow(row);
    }
    std::array<uint8_t, 4> &shown = state.lastSignal[row];
    if (std::equal(p + 3, p + 7, shown.begin())) return;
    core.view.SetStationCell(row, kColumnPeerQuality, Format("%02X-%02X", p[6], p[5]));
    core.view.SetStationCell(row, kColumnOwnQuality, Format("%02X-%02X", p[4], p[3]));
    if (state.linkMode.load() == LINK_DATA) std::copy(p + 3, p + 7, shown.begin());
    core.view.SelectStationRow(row);
}

}  // namespace meradon
