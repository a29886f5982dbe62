// The station list: one row per station with its state marks, received bytes and link
// quality, kept in step with `stationState`. Rows come from packet bytes, so every row is
// checked: a station 0 (or any number without a row) changes nothing.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// Size of the four station bitmaps (active, online, link, suspended) of 32 bytes each.
constexpr std::size_t kStationBitmapsSize = 128;

// Columns 1-4 from the four state bits.
void SetStationColumns(MeradonView &view, int row, bool active, bool online, bool link,
                       bool suspended);
// Redraws the rows whose state changed; after the first filling, changed rows are also
// scrolled to and selected.
void RefreshStationList(Core &core, const uint8_t *bitmaps);
// A signal packet taken from the signal queue (window thread); its quality is kept as of
// when the worker received it.
void OnSignalPacket(Core &core, const SignalRecord &signal);
void ShowStationFromSignal(Core &core, const uint8_t *signal);

}  // namespace meradon
