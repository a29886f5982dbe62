#include "manager/core/history/schema.h"

#include <array>

namespace meradon {

namespace {

// Migration i takes a file from version i to i + 1. Append only: a file written by an
// older program is brought forward step by step.
constexpr std::array<const char *, kHistorySchemaVersion> kMigrations = {
    R"(
    CREATE TABLE sendings (
        id INTEGER PRIMARY KEY,
        file TEXT NOT NULL,
        size INTEGER NOT NULL,
        crc32 INTEGER,
        mode TEXT NOT NULL,
        start INTEGER NOT NULL,
        duration_ms INTEGER,
        repeats INTEGER REFERENCES sendings(id)
    );
    CREATE INDEX sendings_start ON sendings(start);
    CREATE TABLE sending_stations (
        sending INTEGER NOT NULL REFERENCES sendings(id) ON DELETE CASCADE,
        station INTEGER NOT NULL,
        outcome TEXT NOT NULL,
        reason TEXT,
        PRIMARY KEY (sending, station)
    ) WITHOUT ROWID;
    CREATE INDEX sending_stations_station ON sending_stations(station);
    CREATE TABLE receptions (
        id INTEGER PRIMARY KEY,
        station INTEGER NOT NULL,
        path TEXT NOT NULL,
        size INTEGER NOT NULL,
        announced_size INTEGER,
        verdict TEXT NOT NULL,
        start INTEGER NOT NULL,
        end INTEGER NOT NULL
    );
    CREATE INDEX receptions_station_start ON receptions(station, start);
    CREATE TABLE quality (
        time INTEGER NOT NULL,
        station INTEGER NOT NULL,
        peer_lqi INTEGER NOT NULL,
        host_lqi INTEGER NOT NULL,
        peer_rssi INTEGER NOT NULL,
        host_rssi INTEGER NOT NULL
    );
    CREATE INDEX quality_station_time ON quality(station, time);
    CREATE TABLE record_lines (
        id INTEGER PRIMARY KEY,
        time INTEGER NOT NULL,
        text TEXT NOT NULL
    );
    CREATE INDEX record_lines_time ON record_lines(time);
    )",
};

}  // namespace

int PrepareHistorySchema(Database &db, const std::function<void(Database &)> &fillNew) {
    db.SetBusyTimeout(1000);
    db.Exec("PRAGMA journal_mode=WAL");
    // A commit is on the disk when COMMIT returns: a power cut loses nothing committed.
    db.Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON");
    Transaction transaction(db);
    const int before = static_cast<int>(db.QueryInt("PRAGMA user_version").value_or(0));
    if (before > kHistorySchemaVersion)
        throw DatabaseError(0, "the history store is of a newer version (" + std::to_string(before) + ")");
    for (int version = before; version < kHistorySchemaVersion; ++version) db.Exec(kMigrations[version]);
    if (before == 0 && fillNew) fillNew(db);
    if (before != kHistorySchemaVersion)
        db.Exec("PRAGMA user_version=" + std::to_string(kHistorySchemaVersion));
    transaction.Commit();
    return before;
}

}  // namespace meradon
