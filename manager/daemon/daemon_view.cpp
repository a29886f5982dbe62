#include "manager/daemon/daemon_view.h"

#include <unistd.h>

#include <utility>

#include "manager/core/operation_record.h"
#include "manager/daemon/journal_log.h"

namespace meradon::daemon {

DaemonView::DaemonView(const DaemonSettings &settings, Clock &clock)
    : settings_(settings), clock_(clock), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DaemonView::~DaemonView() {
    if (wake_ >= 0) ::close(wake_);
}

void DaemonView::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
}

std::vector<LoopCommand> DaemonView::TakeCommands() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(wake_, &count, sizeof count);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LoopCommand> taken(commands_.begin(), commands_.end());
    commands_.clear();
    return taken;
}

std::vector<std::string> DaemonView::TakeRecordLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(record_, {});
}

void DaemonView::KeepRecordLine(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A record that cannot be saved (a full disk for days) keeps its newest lines only.
    if (record_.size() >= kMostRecordLines) record_.erase(record_.begin(), record_.begin() + kMostRecordLines / 10);
    record_.push_back(std::move(line));
}

void DaemonView::AddRecordLine(const std::string &text, LineStyle style) {
    KeepRecordLine(RecordLine(text, style, clock_.Local()));
    Log(LogLevel::Info, style == LineStyle::Indented ? "  " + text : text);
}

void DaemonView::SetStationCell(int row, int, const std::string &) {
    if (row < 0 || row >= kStations) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changedRows_.set(static_cast<size_t>(row));
    }
    Wake();
}

std::vector<int> DaemonView::TakeChangedRows() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> rows;
    for (int row = 0; row < kStations; ++row)
        if (changedRows_.test(static_cast<size_t>(row))) rows.push_back(row);
    changedRows_.reset();
    return rows;
}

void DaemonView::PostCommand(int command) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back({command, false});
    }
    Wake();
}

void DaemonView::RequestCommand(int command) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back({command, true});
    }
    Wake();
}

// What the window shows in a box goes into the record and the log; the worker is
// answered at once.
void DaemonView::RequestMessageBox(const std::string &text) {
    Log(LogLevel::Warning, text);
    KeepRecordLine(RecordLine(text, LineStyle::Stamped, clock_.Local()));
    if (manager_) manager_->MessageBoxClosed();
}

void DaemonView::ShowTrayBalloon(const std::string &text) {
    if (!text.empty()) Log(LogLevel::Notice, text);
}

bool DaemonView::IsChecked(ControlId box) {
    switch (box) {
    case ControlId::TraceOutput: return settings_.traceOutput;
    case ControlId::AutoSave: return settings_.autoSave;
    case ControlId::Retransmission: return settings_.retransmission;
    default: return false;
    }
}

// Each save writes the lines since the last one, so that a run of months keeps no more
// than an hour of record in memory. Lines that could not be saved wait for the next save.
void DaemonView::SaveRecords(bool) {
    if (!manager_) return;
    std::vector<std::string> lines = TakeRecordLines();
    if (lines.empty()) return;
    const std::filesystem::path saved =
        SaveReport(manager_->Context().output, settings_.LinkText(), clock_.Local(), lines);
    if (!saved.empty()) {
        Log(LogLevel::Info, "operation record saved: " + saved.string());
        return;
    }
    Log(LogLevel::Error, "the operation record could not be saved in " + manager_->Context().output.Path().string());
    std::lock_guard<std::mutex> lock(mutex_);
    record_.insert(record_.begin(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

}  // namespace meradon::daemon
