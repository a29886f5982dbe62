// The file sending state machine ('@' ACTIVATE to 'H' IDLE), advanced by the worker.
#pragma once

#include <array>
#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kActivationRetryMs = 500;
// A disconnect that the host node did not act on is sent again after this long.
constexpr int64_t kDisconnectRetryMs = 500;

// A pass whose receiver has not become active after this long ends the sending.
constexpr int64_t kActivationLimitMs = 10000;
inline constexpr const char *kActivationFailedLine = "激活超时,接收节点没有响应,传输失败";

// Moves the sending from the step being taken to the next, unless the window ended it (or
// armed another) meanwhile: a step that was under way when the link was closed does not
// bring back the sending that the close ended. False when it did not move.
bool MoveSending(AppState &state, char from, char to);

// Runs the step of the current state; nothing while no link is open. A sending whose file
// was closed before it was handed over (cancel) is over: nothing more of it is sent.
void SendStep(Core &core);

// Ends a sending before its report, whatever ended it, from the `step` the caller saw:
// the file goes back to the window, a link left awaiting a lost acknowledgement is made
// ready again, and the host node is told to leave the receiver (again every
// kDisconnectRetryMs until it has), so that the next sending starts from where a finished
// one would. False, and nothing done, when the window ended the sending or armed the next
// one meanwhile. A cancel is the window's: it has listed the sending and closed its file.
bool EndSendingEarly(Core &core, char step, StationOutcome why);
// Brings back a link that nothing else would: one awaiting an acknowledgement that was
// lost (nothing answers a frame without retransmission), or one knocked out of step
// without hand-shake (a host node that restarted). With hand-shake on, the library's keeper
// synchronises an out-of-step link by itself.
void RecoverLink(Core &core, uint8_t linkState);

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
