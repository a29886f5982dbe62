// The main window of Meradon, "Zelkora Wireless Network Manager": the link, the mode,
// the host node's settings, the station list, file sending and the operation record.
// It owns the manager core (and so the worker thread) and runs the core's steps.
#pragma once

#include <QMainWindow>
#include <QString>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "manager/core/clock.h"
#include "manager/core/manager.h"
#include "manager/ui/message_boxes.h"
#include "manager/ui/window_view.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace meradon::ui {

class LinkPicture;
class NetworkViews;
class RecordList;
class StationTable;
class TrayIcon;

// Commands the window posts to itself or runs for the worker, by their historic ids.
enum Command : int {
    CMD_READ_STATION = 1015,
    CMD_READ_PEER = 1022,
    CMD_READ_POWER = 1031,
    CMD_READ_POINT1 = 1020,
    CMD_READ_POINT2 = 1026,
    CMD_READ_RETRANSMISSION = 1029,
    CMD_SHOW_VERSION = 1024,
    CMD_COMMAND_MODE = 1060,
};

// The set-up dialogs of the link library, when the program is built with them.
struct SetupDialogs {
    std::function<void(QWidget *owner, SerialLinkSettings &settings)> serial;
    std::function<void(QWidget *owner, NetLinkSettings &settings, QLineEdit *address)> network;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const std::filesystem::path &outputDir, QWidget *parent = nullptr);
    ~MainWindow() override;

    Manager &Core() { return *manager_; }
    // The results view and the quality plots.
    NetworkViews &Views() { return *views_; }
    void SetSetupDialogs(SetupDialogs dialogs) { setupDialogs_ = std::move(dialogs); }
    // UDP port of the host node (12580 unless a test or the demo says otherwise).
    void SetRemotePort(uint16_t port) { remotePort_ = port; }
    // Chooses the network interface with `address` in the address field.
    void PointAtNetwork(const QString &address);

    // ---- what the core asks of the window (window thread) ---------------------------
    void AddRecordLine(const QString &text, LineStyle style);
    void SetControlText(ControlId control, const QString &text);
    void SetProgress(ControlId bar, int position);
    void EnableControl(ControlId control, bool enabled);
    void FocusControl(ControlId control);
    void EnableSendSetup(bool enabled);
    void RunCommand(int command);
    void ShowWorkerMessage(const QString &text);
    void ShowTrayBalloon(const QString &text);
    void ShowLinkPicture(uint8_t code);
    void SaveRecords(bool quiet);
    // A station cell, the selected row, a progress bar or a control text changed: they
    // are redrawn together, a fraction of a second after the first change.
    void ArmRedraw();
    // A step of the core (Manager::PumpQueues), then the next one is arranged.
    WindowStep StepCore();

    // ---- the window's operations ------------------------------------------------------
    void OpenLink();
    void CloseLink();
    void EnableModeGroup(bool on);
    void EnableCommandGroup(bool on);
    void EnableTransferGroup(bool on);
    void EnableRecordGroup(bool on);
    void EnableAllGroups(bool on);
    // "退出": closes the link, shuts the worker down, removes the tray icon.
    void Exit();

signals:
    // "退出" has shut the core down; the program ends its event loop.
    void exitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildControls();
    QWidget *BuildLeftColumn();
    QWidget *BuildRightColumn();
    void ConnectControls();
    void KeepSelectorCopy();
    QWidget *Control(ControlId control) const;
    void Post(int command);
    void ShowMessage(const QString &caption, const QString &text,
                     QMessageBox::Icon icon = QMessageBox::Information);
    void ResetLinkPicture();
    // Shows the recorded changes to cells, bars and texts now; first thing before the
    // window sets one of them itself, so that no older recorded value covers its own.
    void ApplyRedraw();

    // Commands.
    void OpenOrCloseLink();
    void LoseLink();
    void ChooseSerial();
    void ChooseNetwork();
    void RunSetupDialog();
    void EnterCommandMode();
    void EnterDataMode();
    void SetStation();
    void ReadStation();
    void SetPeer();
    void ReadPeer();
    void ChooseReceiver();
    void ChooseBroadcast();
    void SetPoint(QLineEdit *edit, int (*set)(int, uint8_t *));
    void ReadPoint(QLineEdit *edit, int (*get)(uint8_t *));
    void SetRetransmission();
    void ReadRetransmission();
    void SetPower();
    void ReadPower();
    void ShowVersion();
    void CheckAllStations();
    void RefreshStations();
    void ActivateStations(bool active);
    void ZeroStations();
    void SearchNetwork();
    void ChooseSendFile();
    // A link open in data transfer mode: the only one that carries a sending.
    bool InDataMode();
    void StartSending();
    void CancelSending();
    void EndSending();
    void OpenRemoteDialog();
    void Minimize();

    SystemClock clock_;
    WindowView view_;
    std::unique_ptr<Manager> manager_;
    SetupDialogs setupDialogs_;
    uint16_t remotePort_ = 12580;
    bool exiting_ = false;

    QTimer *stepTimer_ = nullptr;  // the core's next time-out or resend step
    QTimer *redrawTimer_ = nullptr;
    TrayIcon *tray_ = nullptr;
    NetworkViews *views_ = nullptr;
    QButtonGroup *linkKind_ = nullptr;
    QButtonGroup *mode_ = nullptr;
    QButtonGroup *receiver_ = nullptr;

    // Left column.
    QRadioButton *serialRadio_, *networkRadio_;
    QComboBox *portCombo_;
    QLineEdit *addressEdit_;
    QPushButton *openButton_, *setupButton_;
    QCheckBox *retransmissionCheck_, *traceOutputCheck_;
    QRadioButton *commandModeRadio_, *dataModeRadio_;
    LinkPicture *picture_;
    QPushButton *remoteButton_, *saveButton_, *clearButton_;
    RecordList *records_;
    QCheckBox *loopCheck_, *autoSaveCheck_;
    QLineEdit *fileEdit_;
    QPushButton *chooseButton_;
    QProgressBar *bufferProgress_, *transferProgress_;
    QLabel *transferText_, *elapsedClock_;
    QPushButton *sendButton_, *cancelButton_;
    // Right column.
    QLineEdit *stationEdit_, *peerEdit_, *point1Edit_, *point2Edit_;
    QPushButton *readStationButton_, *setStationButton_, *readPeerButton_, *setPeerButton_;
    QRadioButton *receiverRadio_, *broadcastRadio_;
    QPushButton *clockButton_;
    QPushButton *readPoint1Button_, *setPoint1Button_, *readPoint2Button_, *setPoint2Button_;
    QComboBox *retransmissionCombo_, *powerCombo_;
    QPushButton *readRetransmissionButton_, *setRetransmissionButton_;
    QPushButton *readPowerButton_, *setPowerButton_;
    StationTable *stations_;
    QPushButton *checkAllButton_, *activateButton_, *suspendButton_, *zeroButton_;
    QPushButton *refreshButton_, *searchButton_, *minimizeButton_, *exitButton_;
    QLabel *outputDirLabel_;
};

}  // namespace meradon::ui
