#include "manager/ui/main_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "manager/ui/controls.h"
#include "manager/ui/host_settings_panel.h"
#include "manager/ui/network_views.h"
#include "manager/ui/record_panel.h"
#include "manager/ui/remote_dialog.h"
#include "manager/ui/sending_panel.h"
#include "manager/ui/station_buttons.h"
#include "manager/ui/station_table.h"
#include "manager/ui/tray_icon.h"
#include "tevrolink/tevrolink.h"

namespace meradon::ui {

namespace {

// Station cells, progress bars and transfer texts are redrawn about 30 times a second at
// most, however fast packets change them.
constexpr int kRedrawMs = 33;

}  // namespace

MainWindow::MainWindow(const std::filesystem::path &outputDir, int retentionDays, QWidget *parent)
    : QMainWindow(parent), view_(this), manager_(std::make_unique<Manager>(view_, clock_, outputDir)) {
    setObjectName("mainWindow");
    setWindowTitle(kManagerCaption);
    setWindowIcon(QIcon(":/meradon.svg"));
    // No close box: "最小化" hides the window and "退出" ends the program. Kept above other
    // windows; without a tray the window keeps its task-bar entry so it can come back.
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowStaysOnTopHint;
    if (TrayIcon::Available()) flags |= Qt::Tool;
    setWindowFlags(flags);

    BuildControls();
    ConnectPanels();
    tray_ = new TrayIcon(this);
    connect(tray_, &TrayIcon::doubleClicked, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);  // from minimised as from hidden
        show();
        raise();
        activateWindow();
    });

    // The start state: interface and lists filled, all groups off.
    EnableAllGroups(false);
    stationButtons_->EnableListEdits(false);

    redrawTimer_ = new QTimer(this);
    redrawTimer_->setSingleShot(true);
    redrawTimer_->setInterval(kRedrawMs);
    connect(redrawTimer_, &QTimer::timeout, this, &MainWindow::ApplyRedraw);
    stepTimer_ = new QTimer(this);
    stepTimer_->setSingleShot(true);
    // A coarse timer may fire 5 % late: minutes on the hour of the auto-save.
    stepTimer_->setTimerType(Qt::PreciseTimer);
    connect(stepTimer_, &QTimer::timeout, this, &MainWindow::StepCore);
    manager_->Start(retentionDays);
    StepCore();
}

MainWindow::~MainWindow() {
    if (stepTimer_) stepTimer_->stop();
    manager_->Stop();
}

void MainWindow::SetSetupDialogs(SetupDialogs dialogs) { link_->SetSetupDialogs(std::move(dialogs)); }

void MainWindow::SetRemotePort(uint16_t port) { link_->SetRemotePort(port); }

void MainWindow::PointAtNetwork(const QString &address) { link_->PointAtNetwork(address); }

// ---- layout -------------------------------------------------------------------------------

void MainWindow::BuildControls() {
    auto *central = new QWidget(this);
    auto *columns = new QHBoxLayout(central);
    columns->addWidget(BuildLeftColumn(), 0);
    columns->addWidget(BuildRightColumn(), 1);
    setCentralWidget(central);

    outputDirLabel_ = Named(new QLabel(this), "outputDirectory");
    outputDirLabel_->setText(QString("输出目录: %1")
                                 .arg(QString::fromStdString(manager_->Context().output.Path().string())));
    statusBar()->addWidget(outputDirLabel_, 1);
    statusBar()->setSizeGripEnabled(false);
    views_ = new NetworkViews(this, *manager_, stations_);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &MainWindow::Minimize);
}

QWidget *MainWindow::BuildLeftColumn() {
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    link_ = new LinkPanel(*manager_, view_, column);
    records_ = new RecordPanel(*manager_, column);
    sending_ = new SendingPanel(*manager_, view_, column);
    layout->addWidget(link_);
    layout->addWidget(records_, 1);
    layout->addWidget(sending_);
    return column;
}

QWidget *MainWindow::BuildRightColumn() {
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    settings_ = new HostSettingsPanel(column);
    layout->addWidget(settings_);
    stations_ = new StationTable(column);
    layout->addWidget(stations_, 1);
    stationButtons_ = new StationButtons(*manager_, stations_, column);
    layout->addWidget(stationButtons_);

    auto *endBar = new QHBoxLayout;
    endBar->addStretch(1);
    minimizeButton_ = Button("最小化", "minimizeButton", column);
    exitButton_ = Button("退出", "exitButton", column);
    endBar->addWidget(minimizeButton_);
    endBar->addWidget(exitButton_);
    layout->addLayout(endBar);
    return column;
}

void MainWindow::ConnectPanels() {
    connect(link_, &LinkPanel::openOrCloseClicked, this, &MainWindow::OpenOrCloseLink);
    connect(link_, &LinkPanel::commandModeClicked, this, &MainWindow::EnterCommandMode);
    connect(link_, &LinkPanel::dataModeClicked, this, &MainWindow::EnterDataMode);
    connect(link_, &LinkPanel::remoteClicked, this, &MainWindow::OpenRemoteDialog);
    connect(settings_, &HostSettingsPanel::retransmissionRead, this, [this](bool on) {
        if (on != link_->RetransmissionChosen())
            Tell(this, kManagerCaption, "数据重传设置与设备不符，请确认设置!", QMessageBox::Warning);
    });
    connect(settings_, &HostSettingsPanel::versionRead, this, [this](const QString &title) {
        setWindowTitle(title);
        tray_->SetVersionTitle(title);
    });
    connect(stationButtons_, &StationButtons::aboutToEditList, this, &MainWindow::ApplyRedraw);
    connect(stationButtons_, &StationButtons::searchStarted, this, [this] {
        link_->EnableModes(false);
        StepCore();  // the search's end is due from now on
    });
    connect(sending_, &SendingPanel::started, this, [this] {
        EnableSendSetup(false);
        link_->EnableRemote(false);
    });
    connect(sending_, &SendingPanel::ended, this, [this] {
        link_->EnableRemote(true);
        EnableSendSetup(true);
    });
    connect(minimizeButton_, &QPushButton::clicked, this, &MainWindow::Minimize);
    connect(exitButton_, &QPushButton::clicked, this, &MainWindow::Exit);
    for (auto *button : findChildren<QAbstractButton *>())  // after each button's own handler
        connect(button, &QAbstractButton::clicked, this, [this] { manager_->WindowUsedLink(); });
}

QWidget *MainWindow::Control(ControlId control) const {
    if (QWidget *w = link_->Control(control)) return w;
    return sending_->Control(control);
}

// ---- what the core asks -----------------------------------------------------------------

void MainWindow::AddRecordLine(const QString &text, LineStyle style) { records_->AddLine(text, style); }

void MainWindow::SetControlText(ControlId control, const QString &text) {
    if (auto *label = qobject_cast<QLabel *>(Control(control))) label->setText(text);
}

void MainWindow::SetProgress(ControlId bar, int position) {
    if (auto *progress = qobject_cast<QProgressBar *>(Control(bar))) progress->setValue(position);
}

void MainWindow::EnableControl(ControlId control, bool enabled) {
    if (QWidget *w = Control(control)) w->setEnabled(enabled);
}

void MainWindow::FocusControl(ControlId control) {
    if (QWidget *w = Control(control)) w->setFocus();
}

void MainWindow::EnableSendSetup(bool enabled) {
    link_->EnableModes(enabled);
    sending_->EnableFileChoice(enabled);
}

void MainWindow::RunCommand(int command) {
    switch (command) {
    case CMD_REFRESH: stationButtons_->Refresh(); break;
    case CMD_TRANSFER_END: sending_->End(); break;
    case CMD_FILE_SENT: sending_->FileSent(); break;
    case CMD_LINK_LOST: LoseLink(); break;
    case CMD_READ_STATION: settings_->ReadStation(); break;
    case CMD_READ_PEER: settings_->ReadPeer(); break;
    case CMD_READ_POWER: settings_->ReadPower(); break;
    case CMD_READ_POINT1: settings_->ReadPoint1(); break;
    case CMD_READ_POINT2: settings_->ReadPoint2(); break;
    case CMD_READ_RETRANSMISSION: settings_->ReadRetransmission(); break;
    case CMD_SHOW_VERSION: settings_->ReadVersion(); break;
    case CMD_COMMAND_MODE:
        link_->ChooseCommandMode();
        EnterCommandMode();
        break;
    default: break;
    }
    manager_->WindowUsedLink();
}

void MainWindow::ShowWorkerMessage(const QString &text) {
    Messages().Show(this, {kShortCaption, text, QMessageBox::Warning, false},
                    [this, text] { manager_->MessageBoxClosed(text.toStdString()); });
}

void MainWindow::ShowTrayBalloon(const QString &text) { tray_->ShowBalloon(text); }

void MainWindow::ShowLinkPicture(uint8_t code) { link_->ShowPicture(code); }

void MainWindow::SaveRecords(bool quiet) { records_->Save(quiet); }

// ---- groups -----------------------------------------------------------------------------

void MainWindow::EnableModeGroup(bool on) {
    link_->EnableModes(on);
    stations_->setEnabled(on);
}

void MainWindow::EnableCommandGroup(bool on) {
    settings_->Enable(on);
    stationButtons_->EnableCommands(on);
}

void MainWindow::EnableTransferGroup(bool on) {
    ApplyRedraw();
    sending_->Enable(on);
}

void MainWindow::EnableRecordGroup(bool on) {
    link_->EnableRemote(on);
    records_->Enable(on);
}

void MainWindow::EnableAllGroups(bool on) {
    EnableModeGroup(on);
    EnableCommandGroup(on);
    EnableTransferGroup(on);
    EnableRecordGroup(on);
}

// ---- link and modes -----------------------------------------------------------------------

void MainWindow::OpenOrCloseLink() {
    if (IsShellActive()) {
        CloseLink();
        EnableSendSetup(false);
    } else {
        OpenLink();
        Post(CMD_COMMAND_MODE);  // also when the link did not open: its start calls then fail
    }
    link_->EnableInterfaceChoice(!IsShellActive());
}

void MainWindow::OpenLink() {
    if (!link_->OpenShell()) return;
    link_->ShowLinkOpen(true);
    EnableModeGroup(true);
    EnableCommandGroup(false);
    EnableTransferGroup(false);
    EnableRecordGroup(false);
    stationButtons_->EnableListEdits(true);
    manager_->LinkOpened();
    link_->ResetPicture();
}

void MainWindow::CloseLink() {
    manager_->CloseLink();
    link_->ShowLinkOpen(false);
    EnableModeGroup(true);
    EnableCommandGroup(false);
    EnableTransferGroup(false);
    EnableRecordGroup(false);
    stationButtons_->EnableListEdits(false);
    link_->ResetPicture();
}

// The core found the link ended (line hung up, host node silent) and told the operator.
void MainWindow::LoseLink() {
    if (manager_->State().linkOpen.load()) return;  // opened again meanwhile
    CloseLink();
    EnableSendSetup(false);
    link_->EnableInterfaceChoice(true);
}

void MainWindow::EnterCommandMode() {
    if (!manager_->EnterCommandMode()) return;
    EnableCommandGroup(true);
    EnableTransferGroup(false);
    EnableRecordGroup(false);
    link_->ResetPicture();
    for (int command : std::initializer_list<int>{CMD_READ_STATION, CMD_READ_PEER, CMD_READ_POWER, CMD_READ_POINT1, CMD_READ_POINT2,
                        CMD_READ_RETRANSMISSION, CMD_SHOW_VERSION, CMD_REFRESH})
        Post(command);
}

void MainWindow::EnterDataMode() {
    manager_->State().peerNode.store(settings_->PeerNumber());
    if (!manager_->EnterDataMode(link_->TraceOutputChosen(), link_->RetransmissionChosen())) return;
    EnableCommandGroup(false);
    EnableTransferGroup(true);
    EnableRecordGroup(true);
}

void MainWindow::OpenRemoteDialog() {
    RemoteDialog dialog(manager_->State(), this);
    dialog.exec();
}

// ---- window -----------------------------------------------------------------------------

void MainWindow::ArmRedraw() {
    if (!redrawTimer_->isActive()) redrawTimer_->start();
}

void MainWindow::ApplyRedraw() {
    const PendingRedraw::Changes changes = view_.TakeRedraw();
    for (const auto &[cell, text] : changes.cells)
        stations_->SetCell(cell.first, cell.second, QString::fromStdString(text));
    if (changes.selectedRow >= 0) stations_->SelectStationRow(changes.selectedRow);
    for (const auto &[bar, position] : changes.bars) SetProgress(bar, position);
    for (const auto &[control, text] : changes.texts)
        SetControlText(control, QString::fromStdString(text));
}

WindowStep MainWindow::StepCore() {
    if (exiting_) return {};
    const WindowStep step = manager_->PumpQueues();
    // Posted behind whatever else waits, so a flood is taken in batches between clicks.
    if (step.queuedLeft) view_.QueuesFilled();
    stepTimer_->start(static_cast<int>(step.dueInMs));
    return step;
}

void MainWindow::Post(int command) {
    QMetaObject::invokeMethod(this, [this, command] { RunCommand(command); }, Qt::QueuedConnection);
}

void MainWindow::Minimize() {
    if (TrayIcon::Available())
        hide();
    else
        showMinimized();
}

void MainWindow::Exit() {
    if (exiting_) return;
    exiting_ = true;
    stepTimer_->stop();
    CloseLink();
    manager_->Stop();  // releases a worker that waits on a message box or a command
    tray_->Remove();
    hide();
    emit exitRequested();
}

// The window manager's close (there is no close box) hides like "最小化"; only "退出" ends.
void MainWindow::closeEvent(QCloseEvent *event) {
    if (exiting_) {
        event->accept();
        return;
    }
    event->ignore();
    Minimize();
}

}  // namespace meradon::ui
