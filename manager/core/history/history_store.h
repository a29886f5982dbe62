// The history of sendings, receptions, link quality and the operation record, kept in
// "history.sqlite" in the output directory so that it outlives the run and any tool can
// read it. The core's threads only queue facts (a short lock, never SQLite); one writer
// thread of the store opens the file, writes the queue in batches, one transaction each
// (quality samples and record lines gather for a quarter second first; a kill loses at
// most that much of them), and deletes quality samples and record lines older than the retention once a day
// (sendings and receptions are kept).
//
// When the store cannot be written (a full disk, a file locked by another program), the
// record says so once, the batch is tried again every few seconds, and facts wait in
// the queue. The queue is bounded: once it holds `queueLimit` facts, further ones are
// dropped and counted, and the record gives the count when the store writes again.
// Reception goes on either way.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manager/core/history/history_facts.h"

namespace meradon {

class BatchWriter;
class Database;

constexpr char kHistoryFileName[] = "history.sqlite";

// How many days quality samples and record lines are kept: at least one, as they are
// deleted once a day; at most a century, which is as good as keeping them for ever (more
// is taken for a typo).
constexpr int kDefaultRetentionDays = 400;
constexpr int kMinRetentionDays = 1, kMaxRetentionDays = 36500;

struct HistoryOptions {
    int retentionDays = kDefaultRetentionDays;
    std::size_t queueLimit = 100000;
    std::chrono::milliseconds retryAfter{5000};
    std::function<int64_t()> nowSeconds;              // wall clock, Unix seconds
    std::function<void(const std::string &)> report;  // a line for the operation record
};

class HistoryStore {
public:
    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    // Starts the writer, which opens the store in `directory` (creating it, bringing an
    // older one up to date, and filling a new one with the directory's quality files).
    void Open(const std::filesystem::path &directory, HistoryOptions options);
    // Writes what is queued, unless the store cannot be written, and stops the writer.
    void Close();

    // Queues a fact and returns at once; while the store is not open, nothing is kept.
    void Add(HistoryFact fact);
    // The longest that an Add waited for the queue's lock, in whichever thread: all that a
    // thread queuing a fact can wait on the store for (the benchmark's figure).
    std::chrono::nanoseconds LongestQueueWait() const { return std::chrono::nanoseconds(longestWaitNs_.load()); }
    // Waits until what was queued before has been written; false when the writer's next
    // attempt failed (it goes on trying).
    bool Flush();
    // `written` is called from the writer's thread once a batch with outbox facts is on
    // the disk, so that meradond sends the messages. Before Open.
    void WhenOutboxWritten(std::function<void()> written) { outboxWritten_ = std::move(written); }

private:
    using SteadyTime = std::chrono::steady_clock::time_point;
    void Run();
    // The writer's work: opens the store when needed, deletes what is past the retention
    // when due, writes `pending_`. Throws when the store cannot be opened or written.
    void Step(SteadyTime now);
    void OpenDatabase();
    void DeleteExpired();
    void Say(const std::string &line);

    std::filesystem::path file_;
    HistoryOptions options_;
    std::function<void()> outboxWritten_;
    std::thread writer_;

    std::mutex mutex_;
    std::condition_variable work_, written_;
    std::vector<HistoryFact> queue_;
    bool open_ = false, stop_ = false;
    bool failing_ = false;  // the last attempt failed; the next is due after retryAfter
    uint64_t queuedCount_ = 0, writtenCount_ = 0, attempts_ = 0;
    std::size_t pendingCount_ = 0;  // facts the writer holds: they count against the limit
    std::size_t dropped_ = 0;
    SteadyTime gatherUntil_{};  // the queue is written by then at the latest
    bool urgent_ = false;       // the queue holds a fact that is written at once
    std::atomic<int64_t> longestWaitNs_{0};

    // The writer thread's own.
    std::unique_ptr<Database> db_;
    std::unique_ptr<BatchWriter> batchWriter_;
    std::vector<HistoryFact> pending_;
    SteadyTime nextRetention_{};
    bool failureSaid_ = false;
};

}  // namespace meradon
