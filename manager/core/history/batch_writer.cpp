#include "manager/core/history/batch_writer.h"

#include "manager/core/history/sending_codes.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

BatchWriter::BatchWriter(Database &db)
    : db_(db),
      insertSending_(db, "INSERT INTO sendings (file, size, crc32, mode, start, duration_ms, repeats) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
      updateSending_(db, "UPDATE sendings SET duration_ms = ?2 WHERE id = ?1"),
      deleteStations_(db, "DELETE FROM sending_stations WHERE sending = ?1"),
      insertStation_(db, "INSERT INTO sending_stations (sending, station, outcome, reason) "
                         "VALUES (?1, ?2, ?3, ?4)"),
      insertReception_(db, "INSERT INTO receptions (station, path, size, announced_size, verdict, "
                           "start, end) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
      insertLine_(db, "INSERT INTO record_lines (time, text) VALUES (?1, ?2)"),
      quality_(db),
      outbox_(db) {}

void BatchWriter::Write(const std::vector<HistoryFact> &facts) {
    added_.clear();
    try {
        Transaction transaction(db_);
        for (const HistoryFact &fact : facts) std::visit([this](const auto &f) { Put(f); }, fact);
        transaction.Commit();
    } catch (...) {
        for (int id : added_) sendingRows_.erase(id);
        outbox_.Forget();
        throw;
    }
}

void BatchWriter::Put(const SendingFact &fact) {
    const SendingRecord &r = fact.record;
    auto row = sendingRows_.find(r.id);
    if (row == sendingRows_.end()) {
        // The CRC-32 of the file as it was armed.
        r.crc == kCrcNotComputed ? insertSending_.BindNull(3) : insertSending_.Bind(3, int64_t{r.crc});
        r.Ended() ? insertSending_.Bind(6, r.durationMs) : insertSending_.BindNull(6);
        const auto repeated = sendingRows_.find(r.repeats);
        if (r.repeats < 0) insertSending_.Bind(7, int64_t{-r.repeats});
        else if (repeated != sendingRows_.end()) insertSending_.Bind(7, repeated->second);
        else insertSending_.BindNull(7);
        insertSending_.Bind(1, r.path).Bind(2, int64_t{r.size}).Bind(4, std::string(ModeCode(r.mode)))
            .Bind(5, EpochSeconds(r.start)).Run();
        row = sendingRows_.emplace(r.id, db_.LastInsertId()).first;
        added_.push_back(r.id);
    } else {
        r.Ended() ? updateSending_.Bind(2, r.durationMs) : updateSending_.BindNull(2);
        updateSending_.Bind(1, row->second).Run();
        deleteStations_.Bind(1, row->second).Run();
    }
    for (const StationResult &s : r.stations) {
        const char *reason = ReasonCode(s.outcome);
        reason ? insertStation_.Bind(4, std::string(reason)) : insertStation_.BindNull(4);
        insertStation_.Bind(1, row->second).Bind(2, int64_t{s.station})
            .Bind(3, std::string(OutcomeCode(s.outcome))).Run();
    }
}

void BatchWriter::Put(const ReceptionFact &f) {
    f.announcedSize ? insertReception_.Bind(4, int64_t{*f.announcedSize}) : insertReception_.BindNull(4);
    insertReception_.Bind(1, int64_t{f.station}).Bind(2, f.path).Bind(3, int64_t{f.size})
        .Bind(5, f.verdict).Bind(6, EpochSeconds(f.start)).Bind(7, EpochSeconds(f.end)).Run();
}

void BatchWriter::Put(const QualityFact &f) { quality_.Insert(EpochSeconds(f.time), f.station, f.values); }

void BatchWriter::Put(const RecordLineFact &f) {
    insertLine_.Bind(1, EpochSeconds(f.time)).Bind(2, f.text).Run();
}

void BatchWriter::Put(const OutboxFact &f) {
    outbox_.Insert(EpochSeconds(f.time), f.topic, f.payload, f.limitBytes);
}

void BatchWriter::Put(const OutboxAcknowledgedFact &f) { outbox_.Remove(f.sequences); }

}  // namespace meradon
