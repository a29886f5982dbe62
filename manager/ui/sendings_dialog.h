// The results of this run's sendings: one entry per sending (file, size, start, duration,
// mode, the sending it repeats) with one line per receiving station and its outcome;
// "重发失败站点" repeats the selected sending to the stations that did not get the file,
// "保存" writes the list as CSV into the output directory. Redrawn while open.
#pragma once

#include <QDialog>

#include "manager/core/manager.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace meradon::ui {

class SendingsDialog : public QDialog {
    Q_OBJECT
public:
    // `manager` outlives the dialog (the window owns both).
    explicit SendingsDialog(Manager &manager, QWidget *parent = nullptr);

    void Redraw();
    // Shown (again): the newest sending selected and in view, the status line cleared.
    void ShowNewest();
    // The sending whose entry (or one of whose stations) is selected; 0 for none.
    int SelectedSending() const;
    void ResendSelected();
    void Save();

private:
    void UpdateButtons();

    Manager &manager_;
    QTreeWidget *tree_;
    QPushButton *resendButton_, *saveButton_;
    QLabel *status_;
    QTimer *timer_;
    std::size_t shownSignature_ = 0;
    bool resendShown_ = false;  // the status line tells of a resend under way
};

}  // namespace meradon::ui
