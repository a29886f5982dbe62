// Files that stations send to this PC: each data packet's payload is appended to the one
// open receive file, counted per station, and the file is judged against the size and
// CRC-32 that its info packet announced when its tail arrives. Window thread only.
#pragma once

#include <cstdint>

#include "manager/core/core.h"

namespace meradon {

// How a received file ended, as the history keeps it.
constexpr char kVerdictReceived[] = "received";          // size and CRC-32 as announced
constexpr char kVerdictUnannounced[] = "unannounced";    // complete, but no info packet came
constexpr char kVerdictWrongSize[] = "wrong_size";
constexpr char kVerdictWrongContent[] = "wrong_crc";
constexpr char kVerdictSourceUnchecked[] = "source_unchecked";  // the station sent no CRC
constexpr char kVerdictTargetUnchecked[] = "target_unchecked";  // the file could not be read back
constexpr char kVerdictUnfinished[] = "unfinished";      // a new file began before its tail
constexpr char kVerdictTimedOut[] = "timed_out";         // no data for 30 s

// One data packet record taken from the data queue.
void OnDataPacket(Core &core, const uint8_t *packet);
// Appends payload bytes, opening a new receive file first when none is open.
void WriteReceivedData(Core &core, uint8_t station, const uint8_t *payload, uint8_t length);
// Closes a receive file that stopped growing (called once 30 s passed without data).
void ReceiveTimeout(Core &core);
// The link is closing: a file still open ends without its tail, and what a station
// announced on this link is not held against a file on the next one.
void EndReceptionWithLink(Core &core);
// Tells the operator that a file could not be created.
void ReportFileError(Core &core);

}  // namespace meradon
