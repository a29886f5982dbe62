#include "manager/core/history/history_store.h"

#include <algorithm>
#include <ctime>

#include "manager/core/history/batch_writer.h"
#include "manager/core/history/database.h"
#include "manager/core/history/quality_import.h"
#include "manager/core/history/quality_rows.h"
#include "manager/core/history/schema.h"
#include "manager/core/text_format.h"

namespace meradon {

namespace {

constexpr auto kRetentionInterval = std::chrono::hours(24);
// Quality samples and record lines gather this long (or up to kGatherMost) before the
// writer commits them: one transaction a quarter second rather than one a sample keeps
// a busy network's writer at a few per cent of a core. Every other fact is written at once.
constexpr auto kGather = std::chrono::milliseconds(250);
constexpr std::size_t kGatherMost = 4096;

bool MayGather(const HistoryFact &fact) {
    return std::holds_alternative<QualityFact>(fact) || std::holds_alternative<RecordLineFact>(fact);
}
constexpr int64_t kSecondsPerDay = 24 * 3600;

}  // namespace

HistoryStore::HistoryStore() = default;

HistoryStore::~HistoryStore() { Close(); }

void HistoryStore::Open(const std::filesystem::path &directory, HistoryOptions options) {
    Close();
    file_ = directory / kHistoryFileName;
    options_ = std::move(options);
    if (!options_.nowSeconds) options_.nowSeconds = [] { return static_cast<int64_t>(std::time(nullptr)); };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        stop_ = false;
        failing_ = false;
    }
    nextRetention_ = {};
    failureSaid_ = false;
    writer_ = std::thread([this] { Run(); });
}

void HistoryStore::Close() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
        stop_ = true;
    }
    work_.notify_one();
    writer_.join();
    batchWriter_.reset();
    db_.reset();
}

void HistoryStore::Add(HistoryFact fact) {
    const SteadyTime start = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int64_t waited =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
        if (waited > longestWaitNs_.load(std::memory_order_relaxed)) longestWaitNs_.store(waited);  // under the lock
        if (!open_) return;
        if (queue_.size() + pendingCount_ >= options_.queueLimit) {
            ++dropped_;
            return;
        }
        if (queue_.empty()) gatherUntil_ = std::chrono::steady_clock::now() + kGather;
        const bool urgent = !MayGather(fact);
        urgent_ = urgent_ || urgent;
        queue_.push_back(std::move(fact));
        ++queuedCount_;
        if (!urgent && queue_.size() != 1 && queue_.size() < kGatherMost) return;
    }
    work_.notify_one();
}

bool HistoryStore::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = queuedCount_;
    const uint64_t attempt = attempts_;
    urgent_ = true;
    work_.notify_one();
    written_.wait(lock, [&] {
        return (attempts_ > 0 && writtenCount_ >= target) || !open_ || (failing_ && attempts_ > attempt);
    });
    return writtenCount_ >= target;
}

void HistoryStore::Run() {
    SteadyTime retryAt{};
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const SteadyTime wake = failing_ ? retryAt : nextRetention_;
        for (;;) {
            const SteadyTime now = std::chrono::steady_clock::now();
            const bool gathered = urgent_ || now >= gatherUntil_ || queue_.size() >= kGatherMost;
            if (stop_ || (!failing_ && !queue_.empty() && gathered) || now >= wake) break;
            work_.wait_until(lock, !failing_ && !queue_.empty() ? std::min(wake, gatherUntil_) : wake);
        }
        urgent_ = false;
        const bool stopping = stop_;
        if (pending_.empty()) pending_.swap(queue_);
        else for (HistoryFact &fact : queue_) pending_.push_back(std::move(fact));
        queue_.clear();
        const std::size_t batch = pending_.size();
        pendingCount_ = batch;
        lock.unlock();
        const bool outbox = std::any_of(pending_.begin(), pending_.end(), [](const HistoryFact &fact) {
            return std::holds_alternative<OutboxFact>(fact);
        });

        const SteadyTime now = std::chrono::steady_clock::now();
        bool ok = true;
        try {
            Step(now);
        } catch (const std::exception &e) {
            ok = false;
            if (!failureSaid_) Say(Format("历史记录无法写入(%s),稍后重试", e.what()));
            failureSaid_ = true;
        }
        std::size_t dropped = 0;
        lock.lock();
        ++attempts_;
        failing_ = !ok;
        if (ok) {
            writtenCount_ += batch;
            pendingCount_ = 0;
            std::swap(dropped, dropped_);
        }
        retryAt = now + options_.retryAfter;
        lock.unlock();
        written_.notify_all();
        if (ok && outbox && outboxWritten_) outboxWritten_();
        if (ok && failureSaid_) Say("历史记录恢复写入");
        if (ok) failureSaid_ = false;
        if (dropped) Say(Format("历史记录队列已满,%zu 条未能保存", dropped));
        lock.lock();
        if (stopping) break;
    }
}

void HistoryStore::Step(SteadyTime now) {
    if (!db_) OpenDatabase();
    if (now >= nextRetention_) {
        DeleteExpired();
        nextRetention_ = now + kRetentionInterval;
    }
    if (pending_.empty()) return;
    batchWriter_->Write(pending_);
    pending_.clear();
}

void HistoryStore::OpenDatabase() {
    std::filesystem::create_directories(file_.parent_path());
    auto db = std::make_unique<Database>(file_, Database::Access::ReadWrite);
    std::size_t imported = 0;
    PrepareHistorySchema(*db, [&](Database &fresh) {
        imported = ImportQualityFiles(fresh, file_.parent_path(), options_.nowSeconds());
    });
    batchWriter_ = std::make_unique<BatchWriter>(*db);
    db_ = std::move(db);
    if (imported) Say(Format("已导入链路质量记录 %zu 条", imported));
}

void HistoryStore::DeleteExpired() {
    const int64_t cutoff = options_.nowSeconds() - options_.retentionDays * kSecondsPerDay;
    Transaction transaction(*db_);
    // Station by station, so that the delete walks the index rather than the whole table.
    std::vector<Statement> deletions;
    deletions.emplace_back(*db_, "DELETE FROM quality WHERE station = ?1 AND time < ?2");
    for (const QualitySums &sums : kQualitySums)
        deletions.emplace_back(*db_, std::string("DELETE FROM ") + sums.table + " WHERE station = ?1 AND " +
                                         sums.column + " < ?2 / " + std::to_string(sums.seconds));
    for (int station = 1; station <= kLastQualityStation; ++station)
        for (Statement &deletion : deletions) deletion.Bind(1, station).Bind(2, cutoff).Run();
    Statement lines(*db_, "DELETE FROM record_lines WHERE time < ?1");
    lines.Bind(1, cutoff).Run();
    transaction.Commit();
}

void HistoryStore::Say(const std::string &line) {
    if (options_.report) options_.report(line);
}

}  // namespace meradon
