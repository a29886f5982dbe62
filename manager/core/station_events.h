// Connection events between the host node and a station, announced as tray balloons.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// From a kind-1 debug payload (worker thread).
void ShowStationEvent(Core &core, uint8_t event, const uint8_t *payload);

}  // namespace meradon
