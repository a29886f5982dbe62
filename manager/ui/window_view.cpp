#include "manager/ui/window_view.h"

#include <QThread>
#include <QTimer>

#include "manager/ui/main_window.h"

namespace meradon::ui {

namespace {
QString Text(const std::string &utf8) { return QString::fromStdString(utf8); }
}  // namespace

template <typename Action>
void WindowView::OnWindow(Action action) {
    if (QThread::currentThread() == window_->thread())
        action();
    else
        Queue(std::move(action));
}

template <typename Action>
void WindowView::Queue(Action action) {
    QMetaObject::invokeMethod(window_, std::move(action), Qt::QueuedConnection);
}

void WindowView::AskRedraw() {
    OnWindow([w = window_] { w->ArmRedraw(); });
}

void WindowView::SetChecked(ControlId box, bool checked) {
    std::lock_guard<std::mutex> lock(mutex_);
    checked_[box] = checked;
}

void WindowView::SetSelectorText(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    selector_ = text;
}

void WindowView::AddRecordLine(const std::string &text, LineStyle style) {
    OnWindow([w = window_, t = Text(text), style] { w->AddRecordLine(t, style); });
}

void WindowView::SetControlText(ControlId control, const std::string &text) {
    if (redraw_.SetText(control, text)) AskRedraw();
}

void WindowView::SetProgress(ControlId bar, int position) {
    if (redraw_.SetProgress(bar, position)) AskRedraw();
}

void WindowView::EnableControl(ControlId control, bool enabled) {
    OnWindow([w = window_, control, enabled] { w->EnableControl(control, enabled); });
}

void WindowView::FocusControl(ControlId control) {
    OnWindow([w = window_, control] { w->FocusControl(control); });
}

void WindowView::EnableSendSetup(bool enabled) {
    OnWindow([w = window_, enabled] { w->EnableSendSetup(enabled); });
}

void WindowView::SetStationCell(int row, int column, const std::string &text) {
    if (redraw_.SetCell(row, column, text)) AskRedraw();
}

void WindowView::SelectStationRow(int row) {
    if (redraw_.SelectRow(row)) AskRedraw();
}

void WindowView::PostCommand(int command) {
    Queue([w = window_, command] { w->RunCommand(command); });
}

void WindowView::QueuesFilled() {
    if (stepPosted_.exchange(true)) return;
    Queue([this] { TakeQueues(); });
}

void WindowView::TakeQueues() {
    // Cleared as the step begins, so that what the worker queues during the step is
    // either taken by it or posts the next one.
    stepPosted_.exchange(false);  // reads the worker's mark: its packets are visible
    const WindowStep step = window_->StepCore();
    if (step.queuedLeft || !step.queuedTook) return;  // with entries left, StepCore posted the next
    const auto now = std::chrono::steady_clock::now();
    const bool flood = now - lastTook_ < kFloodSpacing;
    lastTook_ = now;
    if (!flood) return;
    // Marked as posted, the worker's next packets post nothing: the timer takes them.
    if (stepPosted_.exchange(true)) return;  // the worker posted meanwhile
    QTimer::singleShot(kQueueStepGap, Qt::PreciseTimer, window_, [this] { TakeQueues(); });
}

void WindowView::RequestCommand(int command) {
    Queue([w = window_, command] {
        w->RunCommand(command);
        w->Core().CommandFinished();
    });
}

void WindowView::RequestMessageBox(const std::string &text) {
    Queue([w = window_, t = Text(text)] { w->ShowWorkerMessage(t); });
}

void WindowView::ShowTrayBalloon(const std::string &text) {
    OnWindow([w = window_, t = Text(text)] { w->ShowTrayBalloon(t); });
}

void WindowView::ShowLinkPicture(uint8_t code) {
    OnWindow([w = window_, code] { w->ShowLinkPicture(code); });
}

bool WindowView::IsChecked(ControlId box) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = checked_.find(box);
    return it != checked_.end() && it->second;
}

std::string WindowView::LinkSelectorText() {
    std::lock_guard<std::mutex> lock(mutex_);
    return selector_;
}

void WindowView::SaveRecords(bool quiet) {
    OnWindow([w = window_, quiet] { w->SaveRecords(quiet); });
}

}  // namespace meradon::ui
