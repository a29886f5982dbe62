// The caller's "active window" variable: each time a dialog is activated it receives the
// dialog's window, so that the caller's message routing knows where keys go. A dialog that
// ends clears the variable if it still names the dialog, leaving no dangling window there.
#pragma once

#include <QEvent>
#include <QWidget>

namespace tevrolink::dialogs {

class ActiveWindowRecord {
public:
    ActiveWindowRecord(QWidget *window, void **variable) : window_(window), variable_(variable) {}
    ~ActiveWindowRecord() {
        if (variable_ && *variable_ == window_) *variable_ = nullptr;
    }
    ActiveWindowRecord(const ActiveWindowRecord &) = delete;
    ActiveWindowRecord &operator=(const ActiveWindowRecord &) = delete;

    void Notice(const QEvent *event) const {
        if (variable_ && event->type() == QEvent::WindowActivate) *variable_ = window_;
    }

private:
    QWidget *window_;
    void **variable_;
};

}  // namespace tevrolink::dialogs
