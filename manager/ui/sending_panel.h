// The sending panel: the file to send and how (looped, the record saved every hour),
// the host node's buffer in use, the progress of the transfer with its elapsed time,
// "传送" and "撤消".
#pragma once

#include <QWidget>

#include "manager/core/manager.h"
#include "manager/ui/window_view.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace meradon::ui {

class SendingPanel : public QWidget {
    Q_OBJECT
public:
    SendingPanel(Manager &manager, WindowView &view, QWidget *parent);

    // On or off with data transfer mode; "撤消" and the bars start anew either way.
    void Enable(bool on);
    void EnableFileChoice(bool on);
    // CMD_TRANSFER_END: the sending has ended.
    void End();
    // CMD_FILE_SENT: the whole file is handed to the link.
    void FileSent();
    // The panel's control with that id, or null.
    QWidget *Control(ControlId control) const;

signals:
    // A sending is armed: what must not change during it goes off.
    void started();
    // The sending has ended and the link is still in data transfer mode.
    void ended();

private:
    void ChooseFile();
    void Start();
    void Cancel();

    Manager &manager_;
    WindowView &view_;
    QCheckBox *loopCheck_, *autoSaveCheck_;
    QLineEdit *fileEdit_;
    QPushButton *chooseButton_;
    QProgressBar *bufferProgress_, *transferProgress_;
    QLabel *transferText_, *elapsedClock_;
    QPushButton *sendButton_, *cancelButton_;
};

}  // namespace meradon::ui
