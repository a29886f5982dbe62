// Reading the history store: the results view, the quality plot and the command-line
// client. The connection is read-only; in WAL mode it reads the last committed state
// while the manager goes on writing.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "manager/core/history/database.h"
#include "manager/core/quality_values.h"
#include "manager/core/sending_log.h"

namespace meradon {

// A sending as stored. record.id and record.repeats are the store's row ids;
// record.startMs is unused.
struct StoredSending {
    SendingRecord record;
    int64_t start = 0;  // Unix seconds
    std::optional<uint32_t> crc;
};

struct StoredReception {
    int64_t id = 0;
    uint8_t station = 0;
    std::string path;
    uint32_t size = 0;
    std::optional<uint32_t> announcedSize;
    std::string verdict;
    int64_t start = 0, end = 0;  // Unix seconds
};

struct StoredQuality {
    int64_t time = 0;  // Unix seconds
    QualityValues values{};
};

// Figures of a station's samples over a span.
struct StoredQualityFigures {
    int64_t count = 0;
    StoredQuality last;
    QualityValues min{}, max{};
    std::array<double, 4> mean{};
};

constexpr int64_t kFromTheStart = std::numeric_limits<int64_t>::min();
constexpr int64_t kUntilNow = std::numeric_limits<int64_t>::max();

struct SendingQuery {
    int64_t since = kFromTheStart;  // started at or after
    uint8_t station = 0;            // meant for this station; 0 any
    bool failedOnly = false;        // with a station that did not succeed
};

class HistoryReader {
public:
    // Throws DatabaseError when the file is missing or no store.
    explicit HistoryReader(const std::filesystem::path &file);

    // Newest first.
    std::vector<StoredSending> Sendings(const SendingQuery &query);
    std::optional<StoredSending> Sending(int64_t id);
    // The stations of sending `id` that did not get its file and that no later sending
    // took the same file to since, ascending (judged as this run's are: StillFailed).
    std::vector<uint8_t> StillFailed(int64_t id);
    std::vector<StoredReception> Receptions(int64_t since, uint8_t station);
    // A station's samples in [since, until], oldest first.
    std::vector<StoredQuality> Quality(uint8_t station, int64_t since, int64_t until);
    // The same span thinned to at most `points` samples for a plot: the span from its
    // first to its last sample is cut into that many equal slices, and each slice with
    // samples gives their mean at its start. Slices of a minute or an hour or more are
    // built from whole minutes or hours, which may reach a little beyond the span.
    std::vector<StoredQuality> ThinnedQuality(uint8_t station, int64_t since, int64_t until, int points);

    // Count, minimum, mean and maximum over the whole hours that the span touches (the
    // sums of each hour), and the last sample in the span.
    StoredQualityFigures QualityFigures(uint8_t station, int64_t since, int64_t until);

private:
    // The sendings `query` selects, or only the one with row `only` when it is not 0.
    std::vector<StoredSending> Read(const SendingQuery &query, int64_t only);

    Database db_;
};

}  // namespace meradon
