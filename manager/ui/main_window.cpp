#include "manager/ui/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>

#include "manager/core/output_directory.h"
#include "manager/ui/link_failure.h"
#include "manager/ui/link_picture.h"
#include "manager/ui/network_views.h"
#include "manager/ui/record_list.h"
#include "manager/ui/remote_dialog.h"
#include "manager/ui/station_table.h"
#include "manager/ui/tray_icon.h"
#include "setup/serial_ports.h"
#include "setup/text_encoding.h"
#include "tevrolink/tevrolink.h"

namespace meradon::ui {

namespace {

const char *const kPowerLevels[] = {"+10 dBm", "+07 dBm", "+05 dBm", "+00 dBm",
                                    "- 05 dBm", "- 10 dBm", "- 15 dBm", "- 20 dBm"};
const char *const kBadStation = "输入无效,有效的节点号码是 1-254";
const char *const kBadPoint = "输入越界,有效的工作频点在0-16";
constexpr int kMaxStation = 254;
constexpr int kMaxPoint = 16;
constexpr int kVersionBuffer = 1024;
// Station cells, progress bars and transfer texts are redrawn about 30 times a second at
// most, however fast packets change them.
constexpr int kRedrawMs = 33;

QPushButton *Button(const char *caption, const char *name, QWidget *parent) {
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QLineEdit *DigitsEdit(const char *name, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 10);
    return edit;
}

template <typename T>
T *Named(T *widget, const char *name) {
    widget->setObjectName(name);
    return widget;
}

// One number 0-255 of an IPv4 address.
const char *const kOctet = "(25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9])";

// The remote address when the field holds a whole IPv4 address, else empty.
QByteArray WholeAddress(const QLineEdit *edit) {
    static const QRegularExpression whole(
        QRegularExpression::anchoredPattern(QString("%1(\\.%1){3}").arg(kOctet)));
    const QString text = edit->text();
    return whole.match(text).hasMatch() ? text.toLatin1() : QByteArray();
}

// The decimal value of a number field taken as unsigned; text that is no number counts as
// 0. A number beyond any range, or a negative one, gives the largest value, so that a
// range check refuses it rather than sending a wrapped value.
unsigned long long DecimalValue(const QLineEdit *edit) {
    static const QRegularExpression number(QRegularExpression::anchoredPattern("([+-]?)0*([0-9]+)"));
    const QRegularExpressionMatch match = number.match(edit->text().trimmed());
    if (!match.hasMatch()) return 0;
    bool ok = false;
    const unsigned long long value = match.captured(2).toULongLong(&ok, 10);
    if (!ok || (match.captured(1) == "-" && value != 0)) return ~0ull;
    return value;
}

void SetEnabled(std::initializer_list<QWidget *> widgets, bool on) {
    for (QWidget *w : widgets) w->setEnabled(on);
}

}  // namespace

MainWindow::MainWindow(const std::filesystem::path &outputDir, QWidget *parent)
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
    ConnectControls();
    tray_ = new TrayIcon(this);
    connect(tray_, &TrayIcon::doubleClicked, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);  // from minimised as from hidden
        show();
        raise();
        activateWindow();
    });

    // The start state: interface and lists filled, all groups off.
    serialRadio_->setChecked(true);
    addressEdit_->setEnabled(false);
    openButton_->setText(IsShellActive() ? "关闭" : "打开");
    commandModeRadio_->setChecked(true);
    receiverRadio_->setChecked(true);
    EnableAllGroups(false);
    SetEnabled({checkAllButton_, zeroButton_}, false);
    KeepSelectorCopy();
    view_.SetChecked(ControlId::LoopSending, loopCheck_->isChecked());

    redrawTimer_ = new QTimer(this);
    redrawTimer_->setSingleShot(true);
    redrawTimer_->setInterval(kRedrawMs);
    connect(redrawTimer_, &QTimer::timeout, this, &MainWindow::ApplyRedraw);
    stepTimer_ = new QTimer(this);
    stepTimer_->setSingleShot(true);
    // A coarse timer may fire 5 % late: minutes on the hour of the auto-save.
    stepTimer_->setTimerType(Qt::PreciseTimer);
    connect(stepTimer_, &QTimer::timeout, this, &MainWindow::StepCore);
    manager_->Start();
    StepCore();
}

MainWindow::~MainWindow() {
    if (stepTimer_) stepTimer_->stop();
    manager_->Stop();
}

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

    auto *link = new QGridLayout;
    serialRadio_ = Named(new QRadioButton("串行接口:", column), "serialRadio");
    networkRadio_ = Named(new QRadioButton("网络接口:", column), "networkRadio");
    linkKind_ = new QButtonGroup(this);
    linkKind_->addButton(serialRadio_);
    linkKind_->addButton(networkRadio_);
    portCombo_ = Named(new QComboBox(column), "portCombo");
    portCombo_->setEditable(true);  // a pty path or any device path can be typed
    portCombo_->setInsertPolicy(QComboBox::NoInsert);
    for (const tevrolink::SerialPortInfo &port : tevrolink::ListSerialPorts())
        portCombo_->addItem(QString::fromStdString(port.path));
    portCombo_->setCurrentIndex(0);
    addressEdit_ = Named(new QLineEdit(column), "addressEdit");
    addressEdit_->setPlaceholderText("0.0.0.0");
    // An IPv4 address as four numbers 0-255; "打开" refuses it until all four are there.
    addressEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString("%1?(\\.%1?){0,3}").arg(kOctet)), addressEdit_));
    openButton_ = Button("打开", "openButton", column);
    setupButton_ = Button("设置...", "setupButton", column);
    link->addWidget(serialRadio_, 0, 0);
    link->addWidget(portCombo_, 0, 1);
    link->addWidget(openButton_, 0, 2);
    link->addWidget(networkRadio_, 1, 0);
    link->addWidget(addressEdit_, 1, 1);
    link->addWidget(setupButton_, 1, 2);
    link->setColumnStretch(1, 1);

    picture_ = new LinkPicture(column);
    picture_->setEnabled(false);
    retransmissionCheck_ = Named(new QCheckBox("支持数据重传", column), "retransmissionCheck");
    traceOutputCheck_ = Named(new QCheckBox("输出运行信息", column), "traceOutputCheck");
    commandModeRadio_ = Named(new QRadioButton("命令设置模式", column), "commandModeRadio");
    dataModeRadio_ = Named(new QRadioButton("数据传输模式", column), "dataModeRadio");
    mode_ = new QButtonGroup(this);
    mode_->addButton(commandModeRadio_);
    mode_->addButton(dataModeRadio_);
    remoteButton_ = Button("远程...", "remoteButton", column);
    link->addWidget(picture_, 2, 0, 4, 1, Qt::AlignCenter);
    link->addWidget(retransmissionCheck_, 2, 1);
    link->addWidget(traceOutputCheck_, 3, 1);
    link->addWidget(commandModeRadio_, 4, 1);
    link->addWidget(dataModeRadio_, 5, 1);
    link->addWidget(remoteButton_, 4, 2, 2, 1, Qt::AlignVCenter);
    layout->addLayout(link);

    auto *recordBar = new QHBoxLayout;
    recordBar->addWidget(new QLabel("操作记录:", column));
    recordBar->addStretch(1);
    saveButton_ = Button("保存", "saveButton", column);
    clearButton_ = Button("清除", "clearButton", column);
    recordBar->addWidget(saveButton_);
    recordBar->addWidget(clearButton_);
    layout->addLayout(recordBar);
    records_ = new RecordList(column);
    layout->addWidget(records_, 1);

    auto *fileBar = new QHBoxLayout;
    fileBar->addWidget(new QLabel("传送文件:", column));
    fileBar->addStretch(1);
    loopCheck_ = Named(new QCheckBox("循环传送", column), "loopSendingCheck");
    autoSaveCheck_ = Named(new QCheckBox("自动保存", column), "autoSaveCheck");
    fileBar->addWidget(loopCheck_);
    fileBar->addWidget(autoSaveCheck_);
    layout->addLayout(fileBar);
    auto *fileRow = new QHBoxLayout;
    fileEdit_ = Named(new QLineEdit(column), "sendFileEdit");
    chooseButton_ = Button("选择...", "chooseFileButton", column);
    fileRow->addWidget(fileEdit_, 1);
    fileRow->addWidget(chooseButton_);
    layout->addLayout(fileRow);

    layout->addWidget(new QLabel("发送占用缓冲:", column));
    bufferProgress_ = Named(new QProgressBar(column), "bufferProgress");
    bufferProgress_->setTextVisible(false);
    bufferProgress_->setMaximumHeight(fontMetrics().height() / 2 + 2);
    layout->addWidget(bufferProgress_);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(new QLabel("传送进度:", column));
    transferText_ = Named(new QLabel(column), "transferText");
    progressRow->addWidget(transferText_, 1);
    layout->addLayout(progressRow);
    transferProgress_ = Named(new QProgressBar(column), "transferProgress");
    transferProgress_->setTextVisible(false);
    layout->addWidget(transferProgress_);
    for (QProgressBar *bar : {bufferProgress_, transferProgress_}) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }

    auto *sendRow = new QHBoxLayout;
    elapsedClock_ = Named(new QLabel(column), "elapsedClock");
    sendButton_ = Button("传送", "sendButton", column);
    cancelButton_ = Button("撤消", "cancelButton", column);
    sendRow->addWidget(elapsedClock_, 1);
    sendRow->addWidget(sendButton_);
    sendRow->addWidget(cancelButton_);
    layout->addLayout(sendRow);
    return column;
}

QWidget *MainWindow::BuildRightColumn() {
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *settings = new QGridLayout;
    stationEdit_ = DigitsEdit("stationEdit", column);
    readStationButton_ = Button("读取", "readStationButton", column);
    setStationButton_ = Button("设置", "setStationButton", column);
    receiverRadio_ = Named(new QRadioButton("接收点", column), "receiverRadio");
    broadcastRadio_ = Named(new QRadioButton("多点广播模式", column), "broadcastRadio");
    receiver_ = new QButtonGroup(this);
    receiver_->addButton(receiverRadio_);
    receiver_->addButton(broadcastRadio_);
    peerEdit_ = DigitsEdit("peerEdit", column);
    readPeerButton_ = Button("读取", "readPeerButton", column);
    setPeerButton_ = Button("设置", "setPeerButton", column);
    clockButton_ = Button("校准时钟", "clockButton", column);
    settings->addWidget(new QLabel("本机站点:", column), 0, 0);
    settings->addWidget(stationEdit_, 0, 1);
    settings->addWidget(readStationButton_, 0, 2);
    settings->addWidget(setStationButton_, 0, 3);
    settings->addWidget(receiverRadio_, 1, 0);
    settings->addWidget(peerEdit_, 1, 1);
    settings->addWidget(readPeerButton_, 1, 2);
    settings->addWidget(setPeerButton_, 1, 3);
    settings->addWidget(broadcastRadio_, 2, 0, 1, 2);
    settings->addWidget(clockButton_, 2, 2, 1, 2);

    point1Edit_ = DigitsEdit("point1Edit", column);
    readPoint1Button_ = Button("读取", "readPoint1Button", column);
    setPoint1Button_ = Button("设置", "setPoint1Button", column);
    point2Edit_ = DigitsEdit("point2Edit", column);
    readPoint2Button_ = Button("读取", "readPoint2Button", column);
    setPoint2Button_ = Button("设置", "setPoint2Button", column);
    retransmissionCombo_ = Named(new QComboBox(column), "retransmissionCombo");
    retransmissionCombo_->addItems({"开启", "关闭"});
    retransmissionCombo_->setCurrentIndex(0);
    readRetransmissionButton_ = Button("读取", "readRetransmissionButton", column);
    setRetransmissionButton_ = Button("设置", "setRetransmissionButton", column);
    powerCombo_ = Named(new QComboBox(column), "powerCombo");
    for (const char *level : kPowerLevels) powerCombo_->addItem(level);
    powerCombo_->setCurrentIndex(0);
    readPowerButton_ = Button("读取", "readPowerButton", column);
    setPowerButton_ = Button("设置", "setPowerButton", column);
    const struct {
        const char *label;
        QWidget *field;
        QPushButton *read, *set;
    } rows[] = {{"第一频点:", point1Edit_, readPoint1Button_, setPoint1Button_},
                {"第二频点:", point2Edit_, readPoint2Button_, setPoint2Button_},
                {"数据重传:", retransmissionCombo_, readRetransmissionButton_, setRetransmissionButton_},
                {"发射功率:", powerCombo_, readPowerButton_, setPowerButton_}};
    for (int r = 0; r < 4; ++r) {
        settings->addWidget(new QLabel(rows[r].label, column), r, 5);
        settings->addWidget(rows[r].field, r, 6);
        settings->addWidget(rows[r].read, r, 7);
        settings->addWidget(rows[r].set, r, 8);
    }
    settings->setColumnMinimumWidth(4, fontMetrics().averageCharWidth() * 2);
    settings->setColumnStretch(4, 1);
    settings->addWidget(new QLabel("无线网络站点列表:", column), 3, 0, 1, 4, Qt::AlignBottom);
    layout->addLayout(settings);

    stations_ = new StationTable(column);
    layout->addWidget(stations_, 1);

    auto *listBar = new QHBoxLayout;
    checkAllButton_ = Button("全选", "checkAllButton", column);
    activateButton_ = Button("添加", "activateButton", column);
    suspendButton_ = Button("删除", "suspendButton", column);
    zeroButton_ = Button("清零", "zeroButton", column);
    refreshButton_ = Button("刷新", "refreshButton", column);
    searchButton_ = Button("搜索", "searchButton", column);
    for (QPushButton *b : {checkAllButton_, activateButton_, suspendButton_, zeroButton_,
                           refreshButton_, searchButton_})
        listBar->addWidget(b);
    layout->addLayout(listBar);
    auto *endBar = new QHBoxLayout;
    endBar->addStretch(1);
    minimizeButton_ = Button("最小化", "minimizeButton", column);
    exitButton_ = Button("退出", "exitButton", column);
    endBar->addWidget(minimizeButton_);
    endBar->addWidget(exitButton_);
    layout->addLayout(endBar);
    return column;
}

void MainWindow::ConnectControls() {
    auto on = [this](QAbstractButton *button, void (MainWindow::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, handler);
    };
    on(serialRadio_, &MainWindow::ChooseSerial);
    on(networkRadio_, &MainWindow::ChooseNetwork);
    on(openButton_, &MainWindow::OpenOrCloseLink);
    on(setupButton_, &MainWindow::RunSetupDialog);
    on(commandModeRadio_, &MainWindow::EnterCommandMode);
    on(dataModeRadio_, &MainWindow::EnterDataMode);
    on(setStationButton_, &MainWindow::SetStation);
    on(readStationButton_, &MainWindow::ReadStation);
    on(setPeerButton_, &MainWindow::SetPeer);
    on(readPeerButton_, &MainWindow::ReadPeer);
    on(receiverRadio_, &MainWindow::ChooseReceiver);
    on(broadcastRadio_, &MainWindow::ChooseBroadcast);
    connect(setPoint1Button_, &QPushButton::clicked, this, [this] { SetPoint(point1Edit_, SetFrequencyPointX1); });
    connect(readPoint1Button_, &QPushButton::clicked, this, [this] { ReadPoint(point1Edit_, GetFrequencyPointX1); });
    connect(setPoint2Button_, &QPushButton::clicked, this, [this] { SetPoint(point2Edit_, SetFrequencyPointX2); });
    connect(readPoint2Button_, &QPushButton::clicked, this, [this] { ReadPoint(point2Edit_, GetFrequencyPointX2); });
    on(setRetransmissionButton_, &MainWindow::SetRetransmission);
    on(readRetransmissionButton_, &MainWindow::ReadRetransmission);
    on(setPowerButton_, &MainWindow::SetPower);
    on(readPowerButton_, &MainWindow::ReadPower);
    connect(clockButton_, &QPushButton::clicked, this, [] { SetHostRTCTimer(); });
    on(checkAllButton_, &MainWindow::CheckAllStations);
    connect(activateButton_, &QPushButton::clicked, this, [this] { ActivateStations(true); });
    connect(suspendButton_, &QPushButton::clicked, this, [this] { ActivateStations(false); });
    on(zeroButton_, &MainWindow::ZeroStations);
    on(refreshButton_, &MainWindow::RefreshStations);
    on(searchButton_, &MainWindow::SearchNetwork);
    on(chooseButton_, &MainWindow::ChooseSendFile);
    on(sendButton_, &MainWindow::StartSending);
    on(cancelButton_, &MainWindow::CancelSending);
    on(remoteButton_, &MainWindow::OpenRemoteDialog);
    connect(clearButton_, &QPushButton::clicked, records_, &RecordList::ClearLines);
    connect(saveButton_, &QPushButton::clicked, this, [this] { SaveRecords(false); });
    on(minimizeButton_, &MainWindow::Minimize);
    on(exitButton_, &MainWindow::Exit);

    // The worker reads these boxes and the link's name through copies.
    const std::pair<QCheckBox *, ControlId> boxes[] = {
        {loopCheck_, ControlId::LoopSending}, {autoSaveCheck_, ControlId::AutoSave},
        {traceOutputCheck_, ControlId::TraceOutput}, {retransmissionCheck_, ControlId::Retransmission}};
    for (auto [box, id] : boxes)
        connect(box, &QCheckBox::toggled, this, [this, id](bool checked) { view_.SetChecked(id, checked); });
    connect(loopCheck_, &QCheckBox::clicked, this,
            [this](bool checked) { manager_->State().loopSend.store(checked ? 1 : 0); });
    connect(portCombo_, &QComboBox::currentTextChanged, this, &MainWindow::KeepSelectorCopy);
    connect(addressEdit_, &QLineEdit::textChanged, this, &MainWindow::KeepSelectorCopy);
    connect(serialRadio_, &QRadioButton::toggled, this, &MainWindow::KeepSelectorCopy);
    for (auto *button : findChildren<QAbstractButton *>())  // after each button's own handler
        connect(button, &QAbstractButton::clicked, this, [this] { manager_->WindowUsedLink(); });
}

void MainWindow::KeepSelectorCopy() {
    const QString text = serialRadio_->isChecked() ? portCombo_->currentText() : addressEdit_->text();
    view_.SetSelectorText(text.left(255).toStdString());
}

void MainWindow::PointAtNetwork(const QString &address) {
    addressEdit_->setText(address);
    if (!IsShellActive()) ChooseNetwork();
}

QWidget *MainWindow::Control(ControlId control) const {
    switch (control) {
    case ControlId::Send: return sendButton_;
    case ControlId::Cancel: return cancelButton_;
    case ControlId::TransferProgress: return transferProgress_;
    case ControlId::TransferText: return transferText_;
    case ControlId::BufferProgress: return bufferProgress_;
    case ControlId::LoopSending: return loopCheck_;
    case ControlId::CommandMode: return commandModeRadio_;
    case ControlId::DataMode: return dataModeRadio_;
    case ControlId::TraceOutput: return traceOutputCheck_;
    case ControlId::ElapsedClock: return elapsedClock_;
    case ControlId::AutoSave: return autoSaveCheck_;
    case ControlId::Retransmission: return retransmissionCheck_;
    }
    return nullptr;
}

// ---- what the core asks -----------------------------------------------------------------

void MainWindow::AddRecordLine(const QString &text, LineStyle style) {
    if (style == LineStyle::Stamped) {
        const LocalTime t = clock_.Local();
        records_->AddLine(QString::asprintf("[%02d:%02d:%02d] ", t.hour, t.minute, t.second) + text);
    } else {
        records_->AddLine("      " + text);
    }
}

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
    SetEnabled({commandModeRadio_, dataModeRadio_, fileEdit_, chooseButton_}, enabled);
}

void MainWindow::RunCommand(int command) {
    switch (command) {
    case CMD_REFRESH: RefreshStations(); break;
    case CMD_TRANSFER_END: EndSending(); break;
    case CMD_FILE_SENT:
        manager_->FinishSending();
        cancelButton_->setEnabled(false);  // what is left is the host node's to finish
        break;
    case CMD_LINK_LOST: LoseLink(); break;
    case CMD_READ_STATION: ReadStation(); break;
    case CMD_READ_PEER: ReadPeer(); break;
    case CMD_READ_POWER: ReadPower(); break;
    case CMD_READ_POINT1: ReadPoint(point1Edit_, GetFrequencyPointX1); break;
    case CMD_READ_POINT2: ReadPoint(point2Edit_, GetFrequencyPointX2); break;
    case CMD_READ_RETRANSMISSION: ReadRetransmission(); break;
    case CMD_SHOW_VERSION: ShowVersion(); break;
    case CMD_COMMAND_MODE:
        commandModeRadio_->setChecked(true);
        EnterCommandMode();
        break;
    default: break;
    }
    manager_->WindowUsedLink();
}

void MainWindow::ShowWorkerMessage(const QString &text) {
    Messages().Show(this, {kShortCaption, text, QMessageBox::Warning, false},
                    [this] { manager_->MessageBoxClosed(); });
}

void MainWindow::ShowTrayBalloon(const QString &text) { tray_->ShowBalloon(text); }

void MainWindow::ShowLinkPicture(uint8_t code) { picture_->ShowCode(code); }

void MainWindow::SaveRecords(bool quiet) {
    const QStringList lines = records_->Lines();
    if (lines.isEmpty()) return;
    const std::string name = ReportFileName(view_.LinkSelectorText(), clock_.Local());
    const OutputDirectory &output = manager_->Context().output;
    FileHandle file = output.Open(name, "wb");
    if (!file) return;
    const QByteArray bytes = ReportBytes(lines);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file.get());
    file.reset();
    if (!quiet)
        ShowMessage(kShortCaption,
                    QString("文件保存在 %1").arg(QString::fromStdString((output.Path() / name).string())));
}

// ---- link -------------------------------------------------------------------------------

void MainWindow::OpenLink() {
    AppState &state = manager_->State();
    int opened = 0;
    QString reason;
    if (networkRadio_->isChecked()) {
        const QByteArray remote = WholeAddress(addressEdit_);
        const NetLinkSettings &net = state.netSettings;
        errno = 0;
        if (remote.isEmpty())
            reason = "主节点的网络地址不完整: 应为四个 0-255 的数字, 如 192.168.1.10";
        else
            opened = OpenNETShell(net.localAddress.c_str(), remote.constData(), net.localPort, remotePort_);
        if (!opened && reason.isEmpty()) reason = NetworkOpenFailure(errno, net.localPort);
    } else {
        const QString port = portCombo_->currentText().trimmed();
        errno = 0;
        opened = OpenCOMShell(port.toLocal8Bit().constData(), state.comSettings.baudRate);
        if (!opened) reason = SerialOpenFailure(errno, port);
    }
    if (!opened) {
        QString text = "打开通讯端口失败, 请重试!";
        if (!reason.isEmpty()) text += "\n" + reason;
        ShowMessage(kManagerCaption, text);
        return;
    }
    retransmissionCheck_->setEnabled(false);
    openButton_->setText("关闭");
    SetEnabled({portCombo_, addressEdit_, traceOutputCheck_}, false);
    EnableModeGroup(true);
    EnableCommandGroup(false);
    EnableTransferGroup(false);
    EnableRecordGroup(false);
    SetEnabled({checkAllButton_, zeroButton_}, true);
    state.linkMode.store(LINK_NO_MODE);
    state.stepTime.store(clock_.NowMs());
    manager_->LinkOpened();
    ResetLinkPicture();
}

void MainWindow::CloseLink() {
    manager_->CloseLink();
    openButton_->setText("打开");
    retransmissionCheck_->setEnabled(true);
    if (serialRadio_->isChecked())
        portCombo_->setEnabled(true);
    else
        addressEdit_->setEnabled(true);
    traceOutputCheck_->setEnabled(true);
    EnableModeGroup(true);
    EnableCommandGroup(false);
    EnableTransferGroup(false);
    EnableRecordGroup(false);
    SetEnabled({checkAllButton_, zeroButton_}, false);
    ResetLinkPicture();
}

void MainWindow::ResetLinkPicture() {
    AppState &state = manager_->State();
    if (state.linkPicture.load() == LINK_PICTURE_IDLE) return;
    state.linkPicture.store(LINK_PICTURE_IDLE);
    picture_->ShowCode(LINK_PICTURE_IDLE);
}

void MainWindow::OpenOrCloseLink() {
    if (IsShellActive()) {
        CloseLink();
        EnableSendSetup(false);
    } else {
        OpenLink();
        Post(CMD_COMMAND_MODE);  // also when the link did not open: its start calls then fail
    }
    const bool closed = !IsShellActive();
    SetEnabled({serialRadio_, networkRadio_, setupButton_}, closed);
}

// The core found the link ended (line hung up, host node silent) and told the operator.
void MainWindow::LoseLink() {
    if (manager_->State().linkOpen.load()) return;  // opened again meanwhile
    CloseLink();
    EnableSendSetup(false);
    SetEnabled({serialRadio_, networkRadio_, setupButton_}, true);
}

void MainWindow::ChooseSerial() {
    portCombo_->setEnabled(true);
    addressEdit_->setEnabled(false);
    serialRadio_->setChecked(true);
    KeepSelectorCopy();
}

void MainWindow::ChooseNetwork() {
    portCombo_->setEnabled(false);
    addressEdit_->setEnabled(true);
    networkRadio_->setChecked(true);
    KeepSelectorCopy();
}

void MainWindow::RunSetupDialog() {
    AppState &state = manager_->State();
    const bool network = networkRadio_->isChecked();
    if (!(network ? bool(setupDialogs_.network) : bool(setupDialogs_.serial))) {
        ShowMessage(kManagerCaption, "此版本没有接口设置对话框 (libtevrolink-dialogs), 无法进行设置。");
        return;
    }
    state.comSettings.portName = portCombo_->currentText().left(255).toStdString();
    state.linkMode.store(LINK_WINDOW);
    if (network)
        setupDialogs_.network(this, state.netSettings, addressEdit_);
    else
        setupDialogs_.serial(this, state.comSettings);
    state.linkMode.store(LINK_NO_MODE);
}

// ---- groups -----------------------------------------------------------------------------

void MainWindow::EnableModeGroup(bool on) { SetEnabled({commandModeRadio_, dataModeRadio_, stations_}, on); }

void MainWindow::EnableCommandGroup(bool on) {
    SetEnabled({stationEdit_, setStationButton_, readStationButton_}, on);
    if (on) {
        SetEnabled({receiverRadio_, broadcastRadio_, readPeerButton_}, true);
        SetEnabled({peerEdit_, setPeerButton_}, receiverRadio_->isChecked());
    } else {
        SetEnabled({receiverRadio_, broadcastRadio_, peerEdit_, setPeerButton_, readPeerButton_}, false);
    }
    SetEnabled({point1Edit_, point2Edit_, setPoint1Button_, setPoint2Button_, readPoint1Button_,
                readPoint2Button_, retransmissionCombo_, setRetransmissionButton_,
                readRetransmissionButton_, powerCombo_, setPowerButton_, readPowerButton_,
                clockButton_, activateButton_, suspendButton_, refreshButton_, searchButton_},
               on);
}

void MainWindow::EnableTransferGroup(bool on) {
    ApplyRedraw();
    SetEnabled({loopCheck_, autoSaveCheck_, fileEdit_, chooseButton_, sendButton_}, on);
    cancelButton_->setEnabled(false);
    bufferProgress_->setValue(0);
    transferProgress_->setValue(0);
}

void MainWindow::EnableRecordGroup(bool on) {
    SetEnabled({remoteButton_, records_, clearButton_, saveButton_}, on);
}

void MainWindow::EnableAllGroups(bool on) {
    EnableModeGroup(on);
    EnableCommandGroup(on);
    EnableTransferGroup(on);
    EnableRecordGroup(on);
}

// ---- modes ------------------------------------------------------------------------------

void MainWindow::EnterCommandMode() {
    AppState &state = manager_->State();
    state.linkMode.store(LINK_WINDOW);
    SetHostHandShake(0);
    if (StartNetCenter(0) != 1 || StartMonitorService(0) != 1) {
        state.linkMode.store(LINK_NO_MODE);
        return;
    }
    EnableCommandGroup(true);
    EnableTransferGroup(false);
    SetEnabled({remoteButton_, clearButton_, saveButton_, records_}, false);
    ResetLinkPicture();
    for (int command : std::initializer_list<int>{CMD_READ_STATION, CMD_READ_PEER, CMD_READ_POWER, CMD_READ_POINT1,
                        CMD_READ_POINT2, CMD_READ_RETRANSMISSION, CMD_SHOW_VERSION, CMD_REFRESH})
        Post(command);
}

void MainWindow::EnterDataMode() {
    AppState &state = manager_->State();
    state.linkMode.store(LINK_WINDOW);
    state.peerNode.store(static_cast<uint8_t>(DecimalValue(peerEdit_) & 0xFF));
    SetHostHandShake(0);
    if (StartNetCenter(1) != 1 || StartMonitorService(traceOutputCheck_->isChecked() ? 1 : 0) != 1) {
        state.linkMode.store(LINK_NO_MODE);
        return;
    }
    state.handShake.store(retransmissionCheck_->isChecked() ? 1 : 0);
    if (state.handShake.load()) SetHostHandShake(1);
    EnableCommandGroup(false);
    EnableTransferGroup(true);
    SetEnabled({remoteButton_, clearButton_, saveButton_, records_}, true);
    state.linkMode.store(LINK_DATA);
}

// ---- host-node settings -----------------------------------------------------------------

void MainWindow::SetStation() {
    const unsigned long long value = DecimalValue(stationEdit_);
    if (value == 0 || value > kMaxStation) {
        ShowMessage(kShortCaption, kBadStation);
        return;
    }
    uint8_t now = 0;
    if (SetHostNodeID(static_cast<int>(value), &now) == 1) stationEdit_->setText(QString::number(now));
}

void MainWindow::ReadStation() {
    uint8_t number = 0;
    if (GetHostNodeID(&number, nullptr) == 1) stationEdit_->setText(QString::number(number));
}

void MainWindow::SetPeer() {
    uint8_t number = 0, role = 0;
    if (GetHostNodeID(&number, &role) != 1) return;
    stationEdit_->setText(QString::number(number));
    if (role != 0) {
        const unsigned long long value = DecimalValue(peerEdit_);
        if (value == 0 || value > kMaxStation) {
            ShowMessage(kShortCaption, kBadStation);
            return;
        }
        uint8_t peer = 0;
        if (SetPeerNodeID(static_cast<int>(value), &peer) == 1) peerEdit_->setText(QString::number(peer));
        return;
    }
    uint8_t peer = 0;
    if (GetPeerNodeID(&peer) == 1) peerEdit_->setText(QString::number(peer));
    ShowMessage(kShortCaption, "从节点仅能向主节点发送数据,无需指定");
}

void MainWindow::ReadPeer() {
    uint8_t peer = 0;
    if (GetPeerNodeID(&peer) != 1) return;
    const bool broadcast = peer == 0;
    peerEdit_->setText(broadcast ? QString() : QString::number(peer));
    (broadcast ? broadcastRadio_ : receiverRadio_)->setChecked(true);
    SetEnabled({peerEdit_, setPeerButton_}, !broadcast);
}

void MainWindow::ChooseReceiver() { SetEnabled({peerEdit_, setPeerButton_}, true); }

void MainWindow::ChooseBroadcast() {
    uint8_t number = 0, role = 0;
    if (GetHostNodeID(&number, &role) != 1) return;
    stationEdit_->setText(QString::number(number));
    if (role == 0) {
        ShowMessage(kShortCaption, "从节点不支持广播功能");
        return;
    }
    SetEnabled({peerEdit_, setPeerButton_}, false);
    SetPeerNodeID(0, nullptr);
}

void MainWindow::SetPoint(QLineEdit *edit, int (*set)(int, uint8_t *)) {
    const unsigned long long value = DecimalValue(edit);
    if (value > kMaxPoint) {
        ShowMessage(kShortCaption, kBadPoint);
        return;
    }
    uint8_t now = 0;
    if (set(static_cast<int>(value), &now) == 1) edit->setText(QString::number(now));
}

void MainWindow::ReadPoint(QLineEdit *edit, int (*get)(uint8_t *)) {
    uint8_t point = 0;
    if (get(&point) == 1) edit->setText(QString::number(point));
}

void MainWindow::SetRetransmission() {
    const int index = retransmissionCombo_->currentIndex();
    if (index == 0) SetShellHandShake(1);
    if (index == 1) SetShellHandShake(0);
}

void MainWindow::ReadRetransmission() {
    uint8_t on = 0;
    if (GetShellHandShake(&on) != 1) return;
    retransmissionCombo_->setCurrentIndex(on ? 0 : 1);
    if ((on != 0) != retransmissionCheck_->isChecked())
        ShowMessage(kManagerCaption, "数据重传设置与设备不符，请确认设置!", QMessageBox::Warning);
}

void MainWindow::SetPower() {
    uint8_t now = 0;
    if (SetWirelessPower(powerCombo_->currentIndex(), &now) == 1) powerCombo_->setCurrentIndex(now);
}

void MainWindow::ReadPower() {
    uint8_t level = 0;
    if (GetWirelessPower(&level) == 1) powerCombo_->setCurrentIndex(level);
}

void MainWindow::ShowVersion() {
    const std::string prefix = std::string(kManagerCaption) + " - ";
    std::string version(kVersionBuffer - prefix.size(), '\0');
    if (GetFirmwareVersion(reinterpret_cast<uint8_t *>(version.data()), static_cast<int>(version.size())) != 1)
        return;
    // Device texts are GBK; the conversion stops at the first NUL.
    const QString title = QString::fromStdString(prefix + tevrolink::GbkToUtf8(version));
    setWindowTitle(title);
    tray_->SetVersionTitle(title);
}

// ---- station list -----------------------------------------------------------------------

void MainWindow::CheckAllStations() { stations_->SetAllChecked(true); }

void MainWindow::RefreshStations() {
    stations_->SetAllChecked(false);
    manager_->RefreshFromHost();
}

void MainWindow::ActivateStations(bool active) {
    const std::vector<uint8_t> stations = stations_->CheckedStations();
    // Suspending goes out also with no station checked: an empty set for the host node.
    if (active && stations.empty()) return;
    const int count = static_cast<int>(stations.size());
    const int ok = active ? SetNodeActive(stations.data(), count) : SetNodeInactive(stations.data(), count);
    if (ok != 1) return;
    manager_->State().listPrimed.store(0);  // redraw without selecting: the operator did it
    RefreshStations();
}

void MainWindow::ZeroStations() {
    ApplyRedraw();
    AppState &state = manager_->State();
    for (int row = 0; row < StationTable::kRows; ++row) {
        if (!stations_->IsRowChecked(row)) continue;
        stations_->SetRowChecked(row, false);
        state.rxBytes[row + 1] = 0;
        stations_->SetCell(row, kColumnData, "0");
        stations_->SetCell(row, kColumnPeerQuality, "N/A");
        stations_->SetCell(row, kColumnOwnQuality, "N/A");
    }
}

void MainWindow::SearchNetwork() {
    if (!manager_->StartNetworkSearch()) return;
    SetEnabled({commandModeRadio_, dataModeRadio_}, false);
    StepCore();  // the search's end is due from now on
}

// ---- file sending -----------------------------------------------------------------------

void MainWindow::ChooseSendFile() {
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), "所有文件 (*)");
    if (!path.isEmpty()) fileEdit_->setText(path);
}

bool MainWindow::InDataMode() {
    return IsShellActive() && manager_->State().linkMode.load() == LINK_DATA;
}

void MainWindow::StartSending() {
    if (!InDataMode()) return;  // only a link in data transfer mode carries a sending
    const std::string path = fileEdit_->text().toStdString().substr(0, 254);
    switch (manager_->PrepareSending(path)) {
    case PrepareResult::NoPath: ShowMessage("信息", "请输入文件名！", QMessageBox::NoIcon); return;
    case PrepareResult::CannotOpen:
        ShowMessage("信息", "打开文件失败，请确认文件位置！", QMessageBox::NoIcon);
        return;
    case PrepareResult::EmptyFile:
        ShowMessage("信息", "文件长度为零,请重新选择文件", QMessageBox::NoIcon);
        return;
    case PrepareResult::Armed: break;
    }
    EnableSendSetup(false);
    remoteButton_->setEnabled(false);
    sendButton_->setEnabled(false);
    cancelButton_->setEnabled(true);
}

void MainWindow::CancelSending() {
    manager_->SendingCancelled();
    Post(CMD_TRANSFER_END);
    StopHost();
}

void MainWindow::EndSending() {
    manager_->FinishSending();
    if (manager_->Resending()) return;  // the next station follows; its end comes later
    cancelButton_->setEnabled(false);
    if (!InDataMode()) return;  // closed meanwhile: the controls stay as the close left them
    remoteButton_->setEnabled(true);
    sendButton_->setEnabled(true);
    EnableSendSetup(true);
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

void MainWindow::ShowMessage(const QString &caption, const QString &text, QMessageBox::Icon icon) {
    Messages().Ask(this, {caption, text, icon, false});
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
