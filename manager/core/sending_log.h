// The sendings of this run, each with the outcome for every station it was meant for:
// what the results view lists, what "resend to the failed" repeats, and what is saved as
// CSV. The outcomes are those of the report lines ("成功" / "失败") and of the ways a
// sending ends early. The worker and the window both write it, so it takes a lock.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "manager/core/app_state.h"
#include "manager/core/clock.h"
#include "manager/core/output_directory.h"

namespace meradon {

enum class SendMode { OneStation, Broadcast, LoopPass };

enum class StationOutcome {
    Pending,        // the sending has not ended
    Succeeded,      // "成功" in the report
    Suspended,      // "失败" in the report: the station was suspended
    ReceiverFault,  // "接收节点故障": the receiver stayed suspended while the file went out
    NoReceiver,     // "接收节点未指定": the host node had no active receiver
    LinkLost,       // the link to the host node failed or was closed during the sending
    Cancelled,      // the operator cancelled
    NotActivated,   // the receiver did not become active within the activation limit
    FileUnreadable, // the file could not be read to its end while it was sent
};

struct StationResult {
    uint8_t station;
    StationOutcome outcome;

    bool operator==(const StationResult &) const = default;
};

// QuickFileCRC32's answer for a file it cannot read, and a CRC-32 nobody could compute.
constexpr uint32_t kCrcNotComputed = 0xFFFFFFFF;

struct SendingRecord {
    int id = 0;  // 1, 2, ... in the order the sendings started
    std::string path;
    uint32_t size = 0;
    uint32_t crc = 0;  // CRC-32 of the file when the sending was armed
    LocalTime start;
    int64_t startMs = 0;
    int64_t durationMs = -1;  // -1 while under way
    SendMode mode = SendMode::OneStation;
    // The sending whose failures this one repeats: > 0 the id of one of this run, < 0 the
    // history store's row (negated) of one of an earlier run; 0 none.
    int repeats = 0;
    std::vector<StationResult> stations;

    bool Ended() const { return durationMs >= 0; }
};

// Texts of the results view and the CSV file.
const char *ModeText(SendMode mode);
const char *OutcomeText(StationOutcome outcome);

class SendingLog {
public:
    // A sending (or a loop pass) starts. `peer` 0 is a broadcast, meant for the stations
    // marked active in `stationState`; their outcomes are settled by the report.
    int Begin(const std::string &path, uint32_t size, uint32_t crc, uint8_t peer, bool loopPass, int repeats,
              const LocalTime &start, int64_t nowMs, const std::array<uint8_t, kStations> &stationState);
    // The report of the running sending, judged as its lines are.
    void Report(uint8_t peer, uint8_t hostFlags, const std::array<uint8_t, kStations> &stationState,
                int64_t nowMs);
    // The running sending ended without a report: every station still pending gets `why`.
    void EndEarly(StationOutcome why, int64_t nowMs);

    // Called with the record after each change (start, report, early end), under the
    // log's lock: it must only hand the copy on.
    void OnChange(std::function<void(const SendingRecord &)> changed) { changed_ = std::move(changed); }

    std::vector<SendingRecord> Records() const;
    std::optional<SendingRecord> Find(int id) const;
    // The id of the latest sending, 0 before the first.
    int LastId() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return nextId_ - 1;
    }
    // The stations of sending `id` that did not get its file and that no later sending of
    // this run took it to since (StillFailed).
    std::vector<uint8_t> FailedStations(int id) const;

    // The oldest sendings are dropped beyond this many (loop sending adds one per pass).
    static constexpr std::size_t kKept = 10000;

private:
    SendingRecord *Running();
    const SendingRecord *Locate(int id) const;
    void Changed(const SendingRecord &record) { if (changed_) changed_(record); }

    mutable std::mutex mutex_;
    std::deque<SendingRecord> records_;
    int nextId_ = 1;
    std::function<void(const SendingRecord &)> changed_;
};

// The stations of the ended `sending` that did not get its file, ascending, without those
// that one of `later` (sendings started after it) took the same file to: the same size and
// CRC-32, a CRC-32 that was computed. The same path is not enough, since the file there may
// have changed. This run's results and the history store's both judge by it.
std::vector<uint8_t> StillFailed(const SendingRecord &sending, const std::vector<SendingRecord> &later);

// The records as CSV (UTF-8, a header row): one line per station of each sending, or one
// with an empty station for a sending meant for none.
std::string SendingsCsv(const std::vector<SendingRecord> &records);
// Writes the sendings of `log` (or `records`) as CSV into a new file of `output`; its name,
// or empty when it cannot be written.
std::string SaveSendingsCsv(const SendingLog &log, const OutputDirectory &output, const LocalTime &now);
std::string SaveSendingsCsv(const std::vector<SendingRecord> &records, const OutputDirectory &output,
                            const LocalTime &now);

}  // namespace meradon
