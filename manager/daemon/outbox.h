// The MQTT bridge's side of the outbox, the messages in the history store that wait for
// the broker's acknowledgement: they are appended, and deleted once acknowledged, through
// the store's writer, and read back in the order of their sequence through a connection
// that only reads.
//
// Through the writer rather than a connection of its own that writes: SQLite lets one
// connection write at a time, and under load (a thousand signal packets a second) the
// writer holds the lock batch after batch, so that a second writer waited up to 2 s for
// it, on the main loop, in the history benchmark. Through the writer an append is a queued
// fact, on the disk with the batch it lands in a few milliseconds later; and a reader of
// the store (WAL) never waits for the writer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace meradon {
class Database;
class HistoryStore;
class Statement;
}  // namespace meradon

namespace meradon::daemon {

struct OutboxMessage {
    int64_t sequence = 0;
    std::string topic;  // the whole topic, base included
    std::string payload;
};

class Outbox {
public:
    // `file` is the store's.
    Outbox(HistoryStore &store, std::filesystem::path file, uint64_t limitBytes);
    ~Outbox();
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;

    void Append(const std::string &topic, const std::string &payload);
    void Acknowledged(std::vector<int64_t> sequences);
    // The sequence before the oldest message that waits: a message after it that is gone
    // unacknowledged was dropped. Throws DatabaseError (as the next one) when the store
    // cannot be read.
    int64_t Start();
    // At most `most` messages after the sequence `after`, oldest first.
    std::vector<OutboxMessage> After(int64_t after, std::size_t most);

private:
    Database &Reader();

    HistoryStore &store_;
    std::filesystem::path file_;
    uint64_t limit_;
    std::unique_ptr<Database> reader_;  // opened once the store is there
    std::unique_ptr<Statement> after_;
};

}  // namespace meradon::daemon
