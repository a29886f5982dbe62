// The link panel: serial or network interface, "打开"/"关闭" and the set-up dialog of the
// chosen interface, the picture of the link state, the choices that hold while the link is
// open (retransmission, trace output), the two modes and "远程...". The window decides what
// opening and closing mean for the other panels.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "manager/core/manager.h"
#include "manager/ui/window_view.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace meradon::ui {

class LinkPicture;

// The set-up dialogs of the link library, when the program is built with them.
struct SetupDialogs {
    std::function<void(QWidget *owner, SerialLinkSettings &settings)> serial;
    std::function<void(QWidget *owner, NetLinkSettings &settings, QLineEdit *address)> network;
};

class LinkPanel : public QWidget {
    Q_OBJECT
public:
    LinkPanel(Manager &manager, WindowView &view, QWidget *parent);

    void SetSetupDialogs(SetupDialogs dialogs) { setupDialogs_ = std::move(dialogs); }
    void SetRemotePort(uint16_t port) { remotePort_ = port; }
    // Chooses the network interface with `address` in the address field.
    void PointAtNetwork(const QString &address);

    // Opens the shell on the chosen interface; when it does not open, says why.
    bool OpenShell();
    // The interface and the choices that hold while the link is open, off while it is.
    void ShowLinkOpen(bool open);
    void EnableInterfaceChoice(bool on);
    void EnableModes(bool on);
    void EnableRemote(bool on);
    void ChooseCommandMode();
    bool RetransmissionChosen() const;
    bool TraceOutputChosen() const;
    // Back to the idle picture, unless it shows already.
    void ResetPicture();
    void ShowPicture(uint8_t code);
    // The panel's control with that id, or null.
    QWidget *Control(ControlId control) const;

signals:
    void openOrCloseClicked();
    void commandModeClicked();
    void dataModeClicked();
    void remoteClicked();

private:
    void ChooseSerial();
    void ChooseNetwork();
    void RunSetupDialog();
    void KeepSelectorCopy();

    Manager &manager_;
    WindowView &view_;
    SetupDialogs setupDialogs_;
    uint16_t remotePort_ = 12580;

    QButtonGroup *linkKind_, *mode_;
    QRadioButton *serialRadio_, *networkRadio_;
    QComboBox *portCombo_;
    QLineEdit *addressEdit_;
    QPushButton *openButton_, *setupButton_;
    LinkPicture *picture_;
    QCheckBox *retransmissionCheck_, *traceOutputCheck_;
    QRadioButton *commandModeRadio_, *dataModeRadio_;
    QPushButton *remoteButton_;
};

}  // namespace meradon::ui
