// The main window of Meradon, "Zelkora Wireless Network Manager": the link, the mode,
// the host node's settings, the station list, file sending and the operation record, each
// in a panel of its own; the window lays them out and wires them together. It owns the
// manager core (and so the worker thread) and runs the core's steps.
#pragma once

#include <QMainWindow>
#include <QString>
#include <filesystem>
#include <memory>

#include "manager/core/clock.h"
#include "manager/core/manager.h"
#include "manager/ui/link_panel.h"
#include "manager/ui/message_boxes.h"
#include "manager/ui/window_view.h"

class QLabel;
class QPushButton;
class QTimer;

namespace meradon::ui {

class HostSettingsPanel;
class NetworkViews;
class RecordPanel;
class SendingPanel;
class StationButtons;
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

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `retentionDays`: how long the history store keeps quality samples and record lines.
    explicit MainWindow(const std::filesystem::path &outputDir, int retentionDays = kDefaultRetentionDays,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    Manager &Core() { return *manager_; }
    // The results view and the quality plots.
    NetworkViews &Views() { return *views_; }
    void SetSetupDialogs(SetupDialogs dialogs);
    // UDP port of the host node (12580 unless a test or the demo says otherwise).
    void SetRemotePort(uint16_t port);
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
    void ConnectPanels();
    QWidget *Control(ControlId control) const;
    void Post(int command);
    // Shows the recorded changes to cells, bars and texts now; first thing before the
    // window sets one of them itself, so that no older recorded value covers its own.
    void ApplyRedraw();

    // Groups of controls that go on and off together.
    void EnableModeGroup(bool on);
    void EnableCommandGroup(bool on);
    void EnableTransferGroup(bool on);
    void EnableRecordGroup(bool on);
    void EnableAllGroups(bool on);

    void OpenOrCloseLink();
    void OpenLink();
    void CloseLink();
    void LoseLink();
    void EnterCommandMode();
    void EnterDataMode();
    void OpenRemoteDialog();
    void Minimize();

    SystemClock clock_;
    WindowView view_;
    std::unique_ptr<Manager> manager_;
    bool exiting_ = false;

    QTimer *stepTimer_ = nullptr;  // the core's next time-out or resend step
    QTimer *redrawTimer_ = nullptr;
    TrayIcon *tray_ = nullptr;
    NetworkViews *views_ = nullptr;

    // Left column.
    LinkPanel *link_;
    RecordPanel *records_;
    SendingPanel *sending_;
    // Right column.
    HostSettingsPanel *settings_;
    StationTable *stations_;
    StationButtons *stationButtons_;
    QPushButton *minimizeButton_, *exitButton_;
    QLabel *outputDirLabel_;
};

}  // namespace meradon::ui
