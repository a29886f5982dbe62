#include "manager/daemon/outbox.h"

#include "manager/core/history/database.h"
#include "manager/core/history/schema.h"

namespace meradon::daemon {

namespace {

// Long enough for a batch of the history store's writer, short enough that the main loop
// is not held up by a store that another program keeps locked.
constexpr int kBusyTimeoutMs = 250;

// What a row counts against the bound: its bytes, not its characters.
const std::string kRowBytes = "length(CAST(topic AS BLOB)) + length(CAST(payload AS BLOB))";

}  // namespace

Outbox::Outbox(const std::filesystem::path &file, uint64_t limitBytes) : limit_(limitBytes) {
    db_ = std::make_unique<Database>(file, Database::Access::ReadWrite);
    PrepareHistorySchema(*db_);
    db_->SetBusyTimeout(kBusyTimeoutMs);
    bytes_ = static_cast<uint64_t>(db_->QueryInt("SELECT coalesce(sum(" + kRowBytes + "), 0) FROM outbox").value_or(0));
    insert_ = std::make_unique<Statement>(*db_, "INSERT INTO outbox (topic, payload, time) VALUES (?1, ?2, ?3)");
    oldest_ = std::make_unique<Statement>(*db_, "SELECT sequence, " + kRowBytes + " FROM outbox ORDER BY sequence");
    after_ = std::make_unique<Statement>(
        *db_, "SELECT sequence, topic, payload FROM outbox WHERE sequence > ?1 ORDER BY sequence LIMIT ?2");
    remove_ = std::make_unique<Statement>(*db_, "DELETE FROM outbox WHERE sequence = ?1 RETURNING " + kRowBytes);
}

Outbox::~Outbox() = default;

std::size_t Outbox::Append(const std::string &topic, const std::string &payload, int64_t time) {
    const uint64_t size = topic.size() + payload.size();
    // A message larger than the whole bound would push out everything and still not fit.
    if (size > limit_) return 1;
    Transaction transaction(*db_);
    uint64_t bytes = bytes_;
    std::size_t dropped = 0;
    int64_t last = 0;  // the newest row to be dropped
    while (bytes + size > limit_ && oldest_->Step()) {
        last = oldest_->Int(0);
        bytes -= static_cast<uint64_t>(oldest_->Int(1));
        ++dropped;
    }
    oldest_->Reset();
    if (dropped) db_->Prepare("DELETE FROM outbox WHERE sequence <= ?1").Bind(1, last).Run();
    insert_->Bind(1, topic).Bind(2, payload).Bind(3, time).Run();
    transaction.Commit();
    bytes_ = bytes + size;
    return dropped;
}

std::vector<OutboxMessage> Outbox::After(int64_t after, std::size_t most) {
    std::vector<OutboxMessage> messages;
    after_->Bind(1, after).Bind(2, static_cast<int64_t>(most));
    // A failed step has reset the statement already.
    while (after_->Step()) messages.push_back({after_->Int(0), after_->Text(1), after_->Text(2)});
    after_->Reset();
    return messages;
}

void Outbox::Remove(const std::vector<int64_t> &sequences) {
    if (sequences.empty()) return;
    Transaction transaction(*db_);
    uint64_t freed = 0;
    for (const int64_t sequence : sequences) {
        remove_->Bind(1, sequence);
        // RETURNING gives its row before the statement is done: step it to the end.
        while (remove_->Step()) freed += static_cast<uint64_t>(remove_->Int(0));
        remove_->Reset();
    }
    transaction.Commit();
    bytes_ -= freed;
}

}  // namespace meradon::daemon
