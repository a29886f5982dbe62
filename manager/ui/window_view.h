// The window as the manager core sees it. The core calls from the worker thread as well
// as from the window thread: calls from the window thread act at once, calls from other
// threads are queued to it and never wait; posted and requested commands and the worker's
// message boxes are always queued. IsChecked and LinkSelectorText are answered from
// copies that the window keeps up to date under a lock.
//
// Station cells, the selected row, progress bars and control texts are recorded, latest
// value only, and the window redraws them on a short timer (see PendingRedraw). The
// worker's QueuesFilled posts one step of the core to the window, however many calls come
// before the window takes it. In a flood (steps that take entries less than kFloodSpacing
// apart) the next step waits kQueueStepGap, so that the window wakes a few hundred times a
// second rather than once per packet; a packet after a quiet spell is taken at once.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "manager/core/pending_redraw.h"
#include "manager/core/view.h"

namespace meradon::ui {

class MainWindow;

class WindowView final : public MeradonView {
public:
    explicit WindowView(MainWindow *window) : window_(window) {}

    // Window thread: the copies the worker reads.
    void SetChecked(ControlId box, bool checked);
    void SetSelectorText(const std::string &text);
    // Window thread: the changes to redraw now.
    PendingRedraw::Changes TakeRedraw() { return redraw_.Take(); }

    void AddRecordLine(const std::string &text, LineStyle style) override;
    void SetControlText(ControlId control, const std::string &text) override;
    void SetProgress(ControlId bar, int position) override;
    void EnableControl(ControlId control, bool enabled) override;
    void FocusControl(ControlId control) override;
    void EnableSendSetup(bool enabled) override;
    void SetStationCell(int row, int column, const std::string &text) override;
    void SelectStationRow(int row) override;
    void PostCommand(int command) override;
    void QueuesFilled() override;
    void RequestCommand(int command) override;
    void RequestMessageBox(const std::string &text) override;
    void ShowTrayBalloon(const std::string &text) override;
    void ShowLinkPicture(uint8_t code) override;
    bool IsChecked(ControlId box) override;
    std::string LinkSelectorText() override;
    void SaveRecords(bool quiet) override;

private:
    // Runs `action` on the window thread: now when called there, else queued.
    template <typename Action>
    void OnWindow(Action action);
    template <typename Action>
    void Queue(Action action);
    // After the first change since the window's last redraw.
    void AskRedraw();
    // Window thread: the step that QueuesFilled posted, or that the gap after the last ends.
    void TakeQueues();

    static constexpr std::chrono::milliseconds kQueueStepGap{5};
    static constexpr std::chrono::milliseconds kFloodSpacing{20};

    MainWindow *const window_;  // outlives the worker: the window stops it first
    std::mutex mutex_;
    std::map<ControlId, bool> checked_;
    std::string selector_;
    PendingRedraw redraw_;
    std::atomic<bool> stepPosted_{false};  // a step is queued to the window, not yet begun
    std::chrono::steady_clock::time_point lastTook_{};  // window thread: the last step with entries
};

}  // namespace meradon::ui
