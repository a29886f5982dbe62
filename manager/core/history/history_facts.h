// What the core hands the history store: one fact per thing that happened, queued by the
// thread where it happened and written later by the store's own thread. Times are the
// local times the core stamps everything with; the writer turns them into Unix seconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "manager/core/clock.h"
#include "manager/core/quality_values.h"
#include "manager/core/sending_log.h"

namespace meradon {

// The whole record of a sending after each change (start, report, early end): the
// latest one written wins. Its id is the run's; the store keeps its own row ids.
struct SendingFact {
    SendingRecord record;
};

struct ReceptionFact {
    uint8_t station = 0;
    std::string path;
    uint32_t size = 0;                     // bytes written into the file
    std::optional<uint32_t> announcedSize; // from the info packet, when one came
    std::string verdict;                   // one of the kVerdict codes of reception.h
    LocalTime start, end;
};

struct QualityFact {
    LocalTime time;
    uint8_t station = 0;
    QualityValues values{};
};

struct RecordLineFact {
    LocalTime time;
    std::string text;  // as the record shows it, stamp or indent included
};

// A message for meradond's MQTT broker, kept in the outbox until the broker has
// acknowledged it. Beyond `limitBytes` of topics and payloads the oldest messages go.
struct OutboxFact {
    LocalTime time;
    std::string topic, payload;
    uint64_t limitBytes = 0;
};

// Messages of the outbox that the broker acknowledged, by sequence.
struct OutboxAcknowledgedFact {
    std::vector<int64_t> sequences;
};

using HistoryFact = std::variant<SendingFact, ReceptionFact, QualityFact, RecordLineFact, OutboxFact,
                                 OutboxAcknowledgedFact>;

}  // namespace meradon
