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
    // Per station and minute, and per station and hour, the number of samples and the sum,
    // minimum and maximum of each value: a plot of a week or a year and its figures read
    // these instead of every sample.
    R"(
    CREATE TABLE quality_minutes (
        station INTEGER NOT NULL,
        minute INTEGER NOT NULL,
        samples INTEGER NOT NULL,
        peer_lqi_sum INTEGER NOT NULL, peer_lqi_min INTEGER NOT NULL, peer_lqi_max INTEGER NOT NULL,
        host_lqi_sum INTEGER NOT NULL, host_lqi_min INTEGER NOT NULL, host_lqi_max INTEGER NOT NULL,
        peer_rssi_sum INTEGER NOT NULL, peer_rssi_min INTEGER NOT NULL, peer_rssi_max INTEGER NOT NULL,
        host_rssi_sum INTEGER NOT NULL, host_rssi_min INTEGER NOT NULL, host_rssi_max INTEGER NOT NULL,
        PRIMARY KEY (station, minute)
    ) WITHOUT ROWID;
    INSERT INTO quality_minutes
        SELECT station, time / 60, count(*),
               sum(peer_lqi), min(peer_lqi), max(peer_lqi), sum(host_lqi), min(host_lqi), max(host_lqi),
               sum(peer_rssi), min(peer_rssi), max(peer_rssi), sum(host_rssi), min(host_rssi), max(host_rssi)
        FROM quality GROUP BY station, time / 60;
    CREATE TABLE quality_hours (
        station INTEGER NOT NULL,
        hour INTEGER NOT NULL,
        samples INTEGER NOT NULL,
        peer_lqi_sum INTEGER NOT NULL, peer_lqi_min INTEGER NOT NULL, peer_lqi_max INTEGER NOT NULL,
        host_lqi_sum INTEGER NOT NULL, host_lqi_min INTEGER NOT NULL, host_lqi_max INTEGER NOT NULL,
        peer_rssi_sum INTEGER NOT NULL, peer_rssi_min INTEGER NOT NULL, peer_rssi_max INTEGER NOT NULL,
        host_rssi_sum INTEGER NOT NULL, host_rssi_min INTEGER NOT NULL, host_rssi_max INTEGER NOT NULL,
        PRIMARY KEY (station, hour)
    ) WITHOUT ROWID;
    INSERT INTO quality_hours
        SELECT station, time / 3600, count(*),
               sum(peer_lqi), min(peer_lqi), max(peer_lqi), sum(host_lqi), min(host_lqi), max(host_lqi),
               sum(peer_rssi), min(peer_rssi), max(peer_rssi), sum(host_rssi), min(host_rssi), max(host_rssi)
        FROM quality GROUP BY station, time / 3600;
    )",
    // What meradond is to publish and its broker has not acknowledged yet. AUTOINCREMENT:
    // a sequence is never used twice, also once the table was empty, so that it orders
    // the messages across restarts.
    R"(
    CREATE TABLE outbox (
        sequence INTEGER PRIMARY KEY AUTOINCREMENT,
        topic TEXT NOT NULL,
        payload TEXT NOT NULL,
        time INTEGER NOT NULL
    );
    )",
};

}  // namespace

int PrepareHistorySchema(Database &db, const std::function<void(Database &)> &fillNew, int version) {
    db.SetBusyTimeout(1000);
    db.Exec("PRAGMA journal_mode=WAL");
    // A commit is on the disk when COMMIT returns: a power cut loses nothing committed.
    db.Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON");
    Transaction transaction(db);
    const int before = static_cast<int>(db.QueryInt("PRAGMA user_version").value_or(0));
    if (before > kHistorySchemaVersion)
        throw DatabaseError(0, "the history store is of a newer version (" + std::to_string(before) + ")");
    for (int from = before; from < version; ++from) db.Exec(kMigrations[static_cast<std::size_t>(from)]);
    if (before == 0 && fillNew) fillNew(db);
    if (before < version) db.Exec("PRAGMA user_version=" + std::to_string(version));
    transaction.Commit();
    return before;
}

}  // namespace meradon
