// The results of the sendings of a chosen span: one entry per sending (file, size, start,
// duration, mode, the sending it repeats) with one line per receiving station and its
// outcome, newest first. "本次运行" lists this run's, numbered by the run; "今天",
// "最近 7 天" and "全部" list the history store's, numbered by the store. "重发失败站点"
// repeats the selected sending to the stations that did not get the file and have not got
// the same file since (one rule for both, StillFailed), "保存" writes the list as CSV into
// the output directory. Redrawn while open.
#pragma once

#include <QDialog>
#include <vector>

#include "manager/core/manager.h"

class QComboBox;
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
    bool FromStore() const;
    // The sendings of the chosen span.
    std::vector<SendingRecord> Records();

    Manager &manager_;
    QComboBox *span_;
    std::vector<SendingRecord> stored_;  // the store's sendings of the span, newest first
    int storedSpan_ = -1;
    qint64 storeReadAtMs_ = 0;
    QTreeWidget *tree_;
    QPushButton *resendButton_, *saveButton_;
    QLabel *status_;
    QTimer *timer_;
    std::size_t shownSignature_ = 0;
    bool resendShown_ = false;  // the status line tells of a resend under way
};

}  // namespace meradon::ui
