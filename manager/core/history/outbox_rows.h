// Writing the outbox, meradond's MQTT messages that wait for the broker: a message is
// appended after the oldest are deleted to make room within its bound, and deleted when
// the broker has acknowledged it. The store's writer uses it inside its batches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "manager/core/history/database.h"

namespace meradon {

class OutboxRows {
public:
    explicit OutboxRows(Database &db);

    void Insert(int64_t time, const std::string &topic, const std::string &payload, uint64_t limitBytes);
    void Remove(const std::vector<int64_t> &sequences);
    // The batch was rolled back: the bytes counted are read again.
    void Forget() { bytes_.reset(); }

private:
    uint64_t Bytes();

    Database &db_;
    Statement insert_, oldest_, dropUpTo_, remove_;
    std::optional<uint64_t> bytes_;  // of the rows, topics and payloads
};

}  // namespace meradon
