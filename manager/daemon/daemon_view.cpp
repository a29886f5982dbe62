#include "manager/daemon/daemon_view.h"

#include <utility>

#include "manager/daemon/journal_log.h"

namespace meradon::daemon {

std::vector<LoopCommand> DaemonView::TakeCommands() {
    wake_.Clear();
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LoopCommand> taken(commands_.begin(), commands_.end());
    commands_.clear();
    return taken;
}

void DaemonView::AddRecordLine(const std::string &text, LineStyle style) {
    if (manager_) manager_->KeepRecordLine(text, style);
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

void DaemonView::FileReceived(const ReceptionFact &file) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(file);
    }
    Wake();
}

std::vector<ReceptionFact> DaemonView::TakeReceivedFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(received_, {});
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

// The core has written the box's text into the record; it goes into the log too, and as
// nobody is there to close the box, it counts as closed at once.
void DaemonView::RequestMessageBox(const std::string &text) {
    Log(LogLevel::Warning, text);
    if (manager_) manager_->MessageBoxClosed(text);
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
// than an hour of record in memory.
void DaemonView::SaveRecords(bool) {
    if (!manager_) return;
    const std::filesystem::path saved = manager_->SaveRecord(true);
    if (!saved.empty())
        Log(LogLevel::Info, "operation record saved: " + saved.string());
    else if (const std::size_t waiting = manager_->RecordLines())
        Log(LogLevel::Warning, "the operation record cannot be written into " + settings_.outputDir.string() + "; " +
                                   std::to_string(waiting) + " lines wait for the next save");
}

}  // namespace meradon::daemon
