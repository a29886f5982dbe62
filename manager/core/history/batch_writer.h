// Writes queued facts into the store, one transaction per batch: a batch is on the disk
// whole or not at all, so a writer killed in the middle leaves the store as it was after
// the batch before. The store's thread uses it; so does any program that fills a store.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "manager/core/history/database.h"
#include "manager/core/history/history_facts.h"
#include "manager/core/history/outbox_rows.h"
#include "manager/core/history/quality_rows.h"

namespace meradon {

class BatchWriter {
public:
    explicit BatchWriter(Database &db);

    // Throws DatabaseError with nothing of the batch written; the same batch may be
    // handed again.
    void Write(const std::vector<HistoryFact> &facts);

private:
    void Put(const SendingFact &fact);
    void Put(const ReceptionFact &fact);
    void Put(const QualityFact &fact);
    void Put(const RecordLineFact &fact);
    void Put(const OutboxFact &fact);
    void Put(const OutboxAcknowledgedFact &fact);

    Database &db_;
    Statement insertSending_, updateSending_, deleteStations_, insertStation_;
    Statement insertReception_, insertLine_;
    QualityRows quality_;
    OutboxRows outbox_;
    // Row of each sending of this run, by the run's id.
    std::unordered_map<int, int64_t> sendingRows_;
    std::vector<int> added_;  // sendings first seen in the batch under way
};

}  // namespace meradon
