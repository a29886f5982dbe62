#include "manager/core/history/history_reader.h"

#include <algorithm>
#include <cmath>

#include "manager/core/history/quality_rows.h"
#include "manager/core/history/sending_codes.h"
#include "manager/core/history/schema.h"

namespace meradon {

namespace {

std::optional<uint32_t> OptionalU32(const Statement &row, int column) {
    if (row.IsNull(column)) return std::nullopt;
    return static_cast<uint32_t>(row.Int(column));
}

StoredQuality QualityAt(const Statement &row, int firstColumn) {
    StoredQuality q;
    q.time = row.Int(firstColumn);
    for (int i = 0; i < 4; ++i) q.values[i] = static_cast<uint8_t>(row.Int(firstColumn + 1 + i));
    return q;
}

}  // namespace

HistoryReader::HistoryReader(const std::filesystem::path &file)
    : db_(file, Database::Access::ReadOnly) {
    db_.SetBusyTimeout(1000);
    const auto version = db_.QueryInt("PRAGMA user_version");
    if (!version || *version == 0) throw DatabaseError(0, file.string() + " is no history store");
    if (*version > kHistorySchemaVersion)
        throw DatabaseError(0, file.string() + " is of a newer version (" + std::to_string(*version) + ")");
}

std::vector<StoredSending> HistoryReader::Sendings(const SendingQuery &query) {
    return Read(query, 0);
}

std::optional<StoredSending> HistoryReader::Sending(int64_t id) {
    std::vector<StoredSending> found = Read({}, id);
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

std::vector<uint8_t> HistoryReader::StillFailed(int64_t id) {
    const std::optional<StoredSending> sending = Sending(id);
    if (!sending || !sending->crc) return {};
    // The later sendings of a file of its size and CRC-32 in one statement (a loop sending
    // makes thousands), with their outcomes for its stations alone.
    Statement later(db_,
        "SELECT s.id, f.station, f.outcome, f.reason FROM sendings s JOIN sending_stations f ON f.sending = s.id "
        "WHERE s.id > ?1 AND s.size = ?2 AND s.crc32 = ?3 "
        "AND f.station IN (SELECT station FROM sending_stations WHERE sending = ?1) ORDER BY s.id");
    later.Bind(1, id).Bind(2, int64_t{sending->record.size}).Bind(3, int64_t{*sending->crc});
    std::vector<SendingRecord> records;
    while (later.Step()) {
        if (records.empty() || records.back().id != later.Int(0)) {
            SendingRecord &r = records.emplace_back();
            r.id = static_cast<int>(later.Int(0));
            r.size = sending->record.size;
            r.crc = *sending->crc;
        }
        records.back().stations.push_back(
            {static_cast<uint8_t>(later.Int(1)), OutcomeFromCodes(later.Text(2), later.Text(3))});
    }
    return meradon::StillFailed(sending->record, records);
}

std::vector<StoredSending> HistoryReader::Read(const SendingQuery &query, int64_t only) {
    Statement sendings(db_,
        "SELECT id, file, size, crc32, mode, start, duration_ms, repeats FROM sendings s "
        "WHERE start >= ?1 AND (?4 = 0 OR id = ?4) "
        "AND (?2 = 0 OR EXISTS (SELECT 1 FROM sending_stations WHERE sending = s.id AND station = ?2)) "
        "AND (?3 = 0 OR EXISTS (SELECT 1 FROM sending_stations WHERE sending = s.id "
        "                       AND outcome = 'failed' AND (?2 = 0 OR station = ?2))) "
        "ORDER BY start DESC, id DESC");
    sendings.Bind(1, query.since).Bind(2, int64_t{query.station}).Bind(3, int64_t{query.failedOnly}).Bind(4, only);
    Statement stations(db_, "SELECT station, outcome, reason FROM sending_stations "
                            "WHERE sending = ?1 ORDER BY station");
    std::vector<StoredSending> result;
    while (sendings.Step()) {
        StoredSending s;
        SendingRecord &r = s.record;
        r.id = static_cast<int>(sendings.Int(0));
        r.path = sendings.Text(1);
        r.size = static_cast<uint32_t>(sendings.Int(2));
        s.crc = OptionalU32(sendings, 3);
        r.crc = s.crc.value_or(kCrcNotComputed);
        r.mode = ModeFromCode(sendings.Text(4));
        s.start = sendings.Int(5);
        r.start = LocalFromEpoch(s.start);
        r.durationMs = sendings.IsNull(6) ? -1 : sendings.Int(6);
        r.repeats = sendings.IsNull(7) ? 0 : static_cast<int>(sendings.Int(7));
        stations.Bind(1, sendings.Int(0));
        while (stations.Step())
            r.stations.push_back({static_cast<uint8_t>(stations.Int(0)),
                                  OutcomeFromCodes(stations.Text(1), stations.Text(2))});
        stations.Reset();
        result.push_back(std::move(s));
    }
    return result;
}

std::vector<StoredReception> HistoryReader::Receptions(int64_t since, uint8_t station) {
    Statement query(db_, "SELECT id, station, path, size, announced_size, verdict, start, end "
                         "FROM receptions WHERE start >= ?1 AND (?2 = 0 OR station = ?2) "
                         "ORDER BY start DESC, id DESC");
    query.Bind(1, since).Bind(2, int64_t{station});
    std::vector<StoredReception> result;
    while (query.Step()) {
        StoredReception r;
        r.id = query.Int(0);
        r.station = static_cast<uint8_t>(query.Int(1));
        r.path = query.Text(2);
        r.size = static_cast<uint32_t>(query.Int(3));
        r.announcedSize = OptionalU32(query, 4);
        r.verdict = query.Text(5);
        r.start = query.Int(6);
        r.end = query.Int(7);
        result.push_back(std::move(r));
    }
    return result;
}

std::vector<StoredQuality> HistoryReader::Quality(uint8_t station, int64_t since, int64_t until) {
    Statement query(db_, "SELECT time, peer_lqi, host_lqi, peer_rssi, host_rssi FROM quality "
                         "WHERE station = ?1 AND time BETWEEN ?2 AND ?3 ORDER BY time");
    query.Bind(1, int64_t{station}).Bind(2, since).Bind(3, until);
    std::vector<StoredQuality> result;
    while (query.Step()) result.push_back(QualityAt(query, 0));
    return result;
}

std::vector<StoredQuality> HistoryReader::ThinnedQuality(uint8_t station, int64_t since,
                                                         int64_t until, int points) {
    std::vector<StoredQuality> result;
    if (points <= 0 || until < since) return result;
    // The span is narrowed to the samples there are, so that the slices cover them. Two
    // queries: each walks one end of the index, where min() and max() together would
    // read the whole span.
    Statement first(db_, "SELECT time FROM quality WHERE station = ?1 AND time BETWEEN ?2 AND ?3 "
                         "ORDER BY time LIMIT 1");
    Statement last(db_, "SELECT time FROM quality WHERE station = ?1 AND time BETWEEN ?2 AND ?3 "
                        "ORDER BY time DESC LIMIT 1");
    for (Statement *s : {&first, &last}) s->Bind(1, int64_t{station}).Bind(2, since).Bind(3, until);
    if (!first.Step() || !last.Step()) return result;
    const int64_t from = first.Int(0), to = last.Int(0);
    const int64_t slice = std::max<int64_t>(1, (to - from) / points + 1);
    // A slice is made of the longest sums that fit in it, or of the samples.
    std::string sql = "SELECT (time - ?2) / ?4, min(time), avg(peer_lqi), avg(host_lqi), avg(peer_rssi), "
                      "avg(host_rssi) FROM quality WHERE station = ?1 AND time BETWEEN ?2 AND ?3 "
                      "GROUP BY 1 ORDER BY 1";
    for (const QualitySums &sums : kQualitySums) {
        if (slice < sums.seconds) break;
        const std::string period = std::to_string(sums.seconds), column = sums.column;
        sql = "SELECT (" + column + " * " + period + " - ?2) / ?4, min(" + column + ") * " + period +
              ", sum(peer_lqi_sum) * 1.0 / sum(samples), sum(host_lqi_sum) * 1.0 / sum(samples), "
              "sum(peer_rssi_sum) * 1.0 / sum(samples), sum(host_rssi_sum) * 1.0 / sum(samples) FROM " +
              sums.table + " WHERE station = ?1 AND " + column + " BETWEEN ?2 / " + period + " AND ?3 / " +
              period + " GROUP BY 1 ORDER BY 1";
    }
    Statement query(db_, sql);
    query.Bind(1, int64_t{station}).Bind(2, from).Bind(3, to).Bind(4, slice);
    while (query.Step()) {
        StoredQuality q;
        q.time = std::max(query.Int(1), from);
        for (int i = 0; i < 4; ++i) q.values[i] = static_cast<uint8_t>(std::lround(query.Real(2 + i)));
        result.push_back(q);
    }
    return result;
}

StoredQualityFigures HistoryReader::QualityFigures(uint8_t station, int64_t since, int64_t until) {
    StoredQualityFigures figures;
    Statement last(db_, "SELECT time, peer_lqi, host_lqi, peer_rssi, host_rssi FROM quality "
                        "WHERE station = ?1 AND time BETWEEN ?2 AND ?3 ORDER BY time DESC LIMIT 1");
    last.Bind(1, int64_t{station}).Bind(2, since).Bind(3, until);
    if (!last.Step()) return figures;
    figures.last = QualityAt(last, 0);
    std::string sql = "SELECT sum(samples)";
    for (const char *name : kQualityNames)
        sql += std::string(", min(") + name + "_min), sum(" + name + "_sum) * 1.0 / sum(samples), max(" + name + "_max)";
    sql += " FROM quality_hours WHERE station = ?1 AND hour BETWEEN ?2 / 3600 AND ?3 / 3600";
    Statement hours(db_, sql);
    hours.Bind(1, int64_t{station}).Bind(2, since).Bind(3, until);
    if (!hours.Step() || hours.IsNull(0)) return figures;
    figures.count = hours.Int(0);
    for (int i = 0; i < 4; ++i) {
        figures.min[i] = static_cast<uint8_t>(hours.Int(1 + 3 * i));
        figures.mean[i] = hours.Real(2 + 3 * i);
        figures.max[i] = static_cast<uint8_t>(hours.Int(3 + 3 * i));
    }
    return figures;
}

}  // namespace meradon
