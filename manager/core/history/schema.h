// The store's tables and how a file of any earlier version is brought to the present one.
// The version is SQLite's user_version: 0 for a new file, then each migration in order.
//
//   sendings          one row per sending or loop pass: file, size, crc32, mode, start
//                     (Unix seconds), duration_ms (NULL while under way), repeats (the row
//                     of the sending whose failures it repeats)
//   sending_stations  one row per station a sending was meant for: outcome
//                     ('pending', 'succeeded', 'failed') and reason for a failure
//   receptions        files stations sent to this PC: station, path, size written,
//                     announced_size (NULL without an info packet), verdict, start, end
//   quality           link-quality samples: time (Unix seconds), station, four values
//   quality_minutes   per station and minute: the number of samples and the sum, minimum
//                     and maximum of each value
//   quality_hours     the same per station and hour
//   record_lines      the operation record's lines as written, with their time
//   outbox            meradond's MQTT messages not yet acknowledged by the broker: topic,
//                     payload, time queued (Unix seconds), in the order of their sequence
#pragma once

#include <functional>

#include "manager/core/history/database.h"

namespace meradon {

constexpr int kHistorySchemaVersion = 3;

// Sets the connection's pragmas (WAL, full sync, foreign keys) and migrates the schema to
// `version` (an older one only to make files of that version) in one transaction; a new
// file is handed to `fillNew` inside it, so that what it adds is there exactly when the
// file is. Returns the version the file had before (0: it was new). Throws DatabaseError;
// a file of a later version than this program knows is refused.
int PrepareHistorySchema(Database &db, const std::function<void(Database &)> &fillNew = {},
                         int version = kHistorySchemaVersion);

}  // namespace meradon
