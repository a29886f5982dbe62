#include "manager/core/history/outbox_rows.h"

namespace meradon {

namespace {

// What a row counts against the bound: its bytes, not its characters.
const std::string kRowBytes = "length(CAST(topic AS BLOB)) + length(CAST(payload AS BLOB))";

}  // namespace

OutboxRows::OutboxRows(Database &db)
    : db_(db),
      insert_(db, "INSERT INTO outbox (time, topic, payload) VALUES (?1, ?2, ?3)"),
      oldest_(db, "SELECT sequence, " + kRowBytes + " FROM outbox ORDER BY sequence"),
      dropUpTo_(db, "DELETE FROM outbox WHERE sequence <= ?1"),
      remove_(db, "DELETE FROM outbox WHERE sequence = ?1 RETURNING " + kRowBytes) {}

uint64_t OutboxRows::Bytes() {
    if (!bytes_)
        bytes_ = static_cast<uint64_t>(
            db_.QueryInt("SELECT coalesce(sum(" + kRowBytes + "), 0) FROM outbox").value_or(0));
    return *bytes_;
}

void OutboxRows::Insert(int64_t time, const std::string &topic, const std::string &payload, uint64_t limitBytes) {
    const uint64_t size = topic.size() + payload.size();
    uint64_t bytes = Bytes();
    int64_t last = 0;  // the newest row to go
    // A message larger than the whole bound empties the outbox and is kept alone.
    while (bytes + size > limitBytes && oldest_.Step()) {
        last = oldest_.Int(0);
        bytes -= static_cast<uint64_t>(oldest_.Int(1));
    }
    oldest_.Reset();
    if (last) dropUpTo_.Bind(1, last).Run();
    insert_.Bind(1, time).Bind(2, topic).Bind(3, payload).Run();
    bytes_ = bytes + size;
}

void OutboxRows::Remove(const std::vector<int64_t> &sequences) {
    uint64_t bytes = Bytes();
    for (const int64_t sequence : sequences) {
        remove_.Bind(1, sequence);
        // RETURNING hands its row before the deletion is done: stepped to the end.
        while (remove_.Step()) bytes -= static_cast<uint64_t>(remove_.Int(0));
        remove_.Reset();
    }
    bytes_ = bytes;
}

}  // namespace meradon
