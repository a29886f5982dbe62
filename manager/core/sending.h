// The file sending state machine ('@' ACTIVATE to 'H' IDLE), advanced by the worker.
#pragma once

#include <array>
#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kActivationRetryMs = 500;
// A disconnect that the host node did not act on is sent again after this long.
constexpr int64_t kDisconnectRetryMs = 500;

// Runs the step of the current state; nothing while no link is open.
void SendStep(Core &core);

void ActivateReceivers(Core &core);
void SendFileInfo(Core &core);
void AnnounceTransfer(Core &core);
void SendChunk(Core &core, int attribute);
void AnnounceFileEnd(Core &core);
void FinishTransfer(Core &core);
void WriteReport(Core &core);
void EndPass(Core &core);

// Lists the sending (or loop pass) that starts now in `core.sendings`; `repeats` is the
// sending whose failed stations it repeats, 0 for none.
void RecordSendingStart(Core &core, int repeats);
// A station array of the current station states, as reports and records judge them.
std::array<uint8_t, kStations> StationStates(const AppState &state);

// Elapsed time of the whole sending in the clock control, for each acknowledgement.
void ShowSendClock(Core &core);

}  // namespace meradon
