// The MQTT bridge's messages on disk until the broker has acknowledged them: the `outbox`
// table of the history store, so that a broker away for long, and meradond stopped or
// killed meanwhile, lose nothing. Messages go out in the order of their sequence. The
// outbox is bounded in bytes (topic and payload); an append beyond the bound deletes the
// oldest rows.
//
// It has a SQLite connection of its own rather than going through the history store's
// writer: an append is on the disk when Append returns (the writer queues facts in memory
// and writes them later, so a kill in between would lose the message), and the bridge
// needs each row's sequence at once to delete it when the broker acknowledges it. The
// writer's batches are short transactions, so the busy timeout is short too: one append
// (a commit with its fsync) takes a few milliseconds on the main loop.
//
// Not thread-safe: the bridge serialises its calls.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace meradon {
class Database;
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
    // Opens (creating and migrating when needed) the store `file`. Throws DatabaseError.
    Outbox(const std::filesystem::path &file, uint64_t limitBytes);
    ~Outbox();
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;

    // Appends a message stamped `time` (Unix seconds) and returns how many of the oldest
    // were deleted to stay within the bound. Throws DatabaseError with nothing changed.
    std::size_t Append(const std::string &topic, const std::string &payload, int64_t time);
    // At most `most` messages with a sequence after `after`, oldest first.
    std::vector<OutboxMessage> After(int64_t after, std::size_t most);
    // Deletes the rows of `sequences` (those not there any more are skipped), in one
    // transaction. Throws DatabaseError with nothing deleted.
    void Remove(const std::vector<int64_t> &sequences);

    uint64_t Bytes() const { return bytes_; }

private:
    uint64_t limit_;
    uint64_t bytes_ = 0;  // of the rows in the table
    std::unique_ptr<Database> db_;
    std::unique_ptr<Statement> insert_, oldest_, after_, remove_;
};

}  // namespace meradon::daemon
