// A view that records what the core does to the window, for tests. Thread-safe: the
// worker calls it as well as the test thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "manager/core/view.h"

namespace meradon_test {

struct RecordLine {
    std::string text;
    meradon::LineStyle style;
};

class RecordingView : public meradon::MeradonView {
public:
    using LineStyle = meradon::LineStyle;
    using ControlId = meradon::ControlId;

    // What the window does when the worker asks it to run a command or show a message box.
    // Left empty, the request stays open until a test answers it.
    std::function<void(int)> onCommand;
    std::function<void(const std::string &)> onMessageBox;

    void AddRecordLine(const std::string &text, LineStyle style) override {
        Locked([&] { lines_.push_back({text, style}); });
    }
    void SetControlText(ControlId control, const std::string &text) override {
        Locked([&] { texts_[control] = text; });
    }
    // A long sending sets its bars hundreds of thousands of times; a benchmark keeps only the
    // latest value, so that the view's memory is not taken for the manager's.
    bool keepEveryProgress = true;
    void SetProgress(ControlId bar, int position) override {
        Locked([&] {
            std::vector<int> &values = progress_[bar];
            if (!keepEveryProgress) values.clear();
            values.push_back(position);
        });
    }
    void EnableControl(ControlId control, bool enabled) override {
        Locked([&] { enabled_[control] = enabled; });
    }
    void FocusControl(ControlId control) override { Locked([&] { focus_ = control; }); }
    void EnableSendSetup(bool enabled) override { Locked([&] { sendSetup_ = enabled; }); }
    void SetStationCell(int row, int column, const std::string &text) override {
        Locked([&] { cells_[{row, column}] = text; });
    }
    void SelectStationRow(int row) override { Locked([&] { selected_.push_back(row); }); }
    void PostCommand(int command) override { Locked([&] { posted_.push_back(command); }); }
    void RequestCommand(int command) override {
        Locked([&] { requested_.push_back(command); });
        if (onCommand) onCommand(command);
    }
    void RequestMessageBox(const std::string &text) override {
        Locked([&] { boxes_.push_back(text); });
        if (onMessageBox) onMessageBox(text);
    }
    void ShowTrayBalloon(const std::string &text) override {
        Locked([&] { balloons_.push_back(text); });
    }
    void ShowLinkPicture(uint8_t code) override { Locked([&] { pictures_.push_back(code); }); }
    bool IsChecked(ControlId box) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return checked_.count(box) != 0;
    }
    std::string LinkSelectorText() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return selector_;
    }
    void SaveRecords(bool quiet) override { Locked([&] { saves_.push_back(quiet); }); }

    // Set-up by tests.
    void Check(ControlId box, bool on = true) {
        Locked([&] { on ? (void)checked_.insert(box) : (void)checked_.erase(box); });
    }
    void SetSelector(std::string text) { Locked([&] { selector_ = std::move(text); }); }

    // Snapshots.
    std::vector<RecordLine> Lines() { return Get(lines_); }
    std::vector<std::string> LineTexts() {
        std::vector<std::string> texts;
        for (auto &l : Lines()) texts.push_back(l.text);
        return texts;
    }
    std::string Cell(int row, int column) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = cells_.find({row, column});
        return it == cells_.end() ? "<unset>" : it->second;
    }
    std::size_t CellCount() { return Get(cells_).size(); }
    std::string Text(ControlId control) {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_.count(control) ? texts_[control] : "<unset>";
    }
    std::vector<int> Progress(ControlId bar) {
        std::lock_guard<std::mutex> lock(mutex_);
        return progress_[bar];
    }
    std::map<ControlId, bool> Enabled() { return Get(enabled_); }
    std::vector<int> Selected() { return Get(selected_); }
    std::vector<int> Requested() { return Get(requested_); }
    std::vector<std::string> Boxes() { return Get(boxes_); }
    std::vector<std::string> Balloons() { return Get(balloons_); }
    std::vector<uint8_t> Pictures() { return Get(pictures_); }
    std::vector<bool> Saves() { return Get(saves_); }
    bool SendSetupEnabled() { return Get(sendSetup_); }
    // Takes the commands posted so far (the window handles each once).
    std::vector<int> TakePosted() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<int> taken(posted_.begin(), posted_.end());
        posted_.clear();
        return taken;
    }
    bool AnyPosted() { return !Get(posted_).empty(); }
    void ClearRecords() {
        Locked([&] {
            lines_.clear();
            cells_.clear();
            selected_.clear();
            balloons_.clear();
        });
    }

private:
    template <typename Fn>
    void Locked(Fn fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        fn();
    }
    template <typename T>
    T Get(const T &field) {
        std::lock_guard<std::mutex> lock(mutex_);
        return field;
    }

    std::mutex mutex_;
    std::vector<RecordLine> lines_;
    std::map<ControlId, std::string> texts_;
    std::map<ControlId, std::vector<int>> progress_;
    std::map<ControlId, bool> enabled_;
    ControlId focus_{};
    bool sendSetup_ = false;
    std::map<std::pair<int, int>, std::string> cells_;
    std::vector<int> selected_;
    std::deque<int> posted_;
    std::vector<int> requested_;
    std::vector<std::string> boxes_;
    std::vector<std::string> balloons_;
    std::vector<uint8_t> pictures_;
    std::vector<bool> saves_;
    std::set<ControlId> checked_;
    std::string selector_ = "127.0.0.1";
};

}  // namespace meradon_test
