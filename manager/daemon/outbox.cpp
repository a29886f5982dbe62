#include "manager/daemon/outbox.h"

#include <ctime>

#include "manager/core/history/database.h"
#include "manager/core/history/history_store.h"

namespace meradon::daemon {

Outbox::Outbox(HistoryStore &store, std::filesystem::path file, uint64_t limitBytes)
    : store_(store), file_(std::move(file)), limit_(limitBytes) {}

Outbox::~Outbox() = default;

void Outbox::Append(const std::string &topic, const std::string &payload) {
    store_.Add(OutboxFact{LocalFromEpoch(std::time(nullptr)), topic, payload, limit_});
}

void Outbox::Acknowledged(std::vector<int64_t> sequences) {
    if (!sequences.empty()) store_.Add(OutboxAcknowledgedFact{std::move(sequences)});
}

Database &Outbox::Reader() {
    if (!reader_) {
        auto reader = std::make_unique<Database>(file_, Database::Access::ReadOnly);
        after_ = std::make_unique<Statement>(
            *reader, "SELECT sequence, topic, payload FROM outbox WHERE sequence > ?1 ORDER BY sequence LIMIT ?2");
        reader_ = std::move(reader);
    }
    return *reader_;
}

int64_t Outbox::Start() {
    return Reader()
        .QueryInt("SELECT coalesce((SELECT min(sequence) - 1 FROM outbox), "
                  "(SELECT seq FROM sqlite_sequence WHERE name = 'outbox'), 0)")
        .value_or(0);
}

std::vector<OutboxMessage> Outbox::After(int64_t after, std::size_t most) {
    Reader();
    std::vector<OutboxMessage> messages;
    after_->Bind(1, after).Bind(2, static_cast<int64_t>(most));
    // A failed step has reset the statement already.
    while (after_->Step()) messages.push_back({after_->Int(0), after_->Text(1), after_->Text(2)});
    after_->Reset();
    return messages;
}

}  // namespace meradon::daemon
