#include "manager/ui/link_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <cerrno>

#include "manager/core/dispatch.h"
#include "manager/core/link_failure.h"
#include "manager/ui/controls.h"
#include "manager/ui/link_picture.h"
#include "manager/ui/message_boxes.h"
#include "setup/serial_ports.h"
#include "tevrolink/tevrolink.h"

namespace meradon::ui {

namespace {

// One number 0-255 of an IPv4 address.
const char *const kOctet = "(25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9])";

// The remote address when the field holds a whole IPv4 address, else empty.
QByteArray WholeAddress(const QLineEdit *edit) {
    static const QRegularExpression whole(
        QRegularExpression::anchoredPattern(QString("%1(\\.%1){3}").arg(kOctet)));
    const QString text = edit->text();
    return whole.match(text).hasMatch() ? text.toLatin1() : QByteArray();
}

}  // namespace

LinkPanel::LinkPanel(Manager &manager, WindowView &view, QWidget *parent)
    : QWidget(parent), manager_(manager), view_(view) {
    auto *link = new QGridLayout(this);
    link->setContentsMargins(0, 0, 0, 0);
    serialRadio_ = Named(new QRadioButton("串行接口:", this), "serialRadio");
    networkRadio_ = Named(new QRadioButton("网络接口:", this), "networkRadio");
    linkKind_ = new QButtonGroup(this);
    linkKind_->addButton(serialRadio_);
    linkKind_->addButton(networkRadio_);
    portCombo_ = Named(new QComboBox(this), "portCombo");
    portCombo_->setEditable(true);  // a pty path or any device path can be typed
    portCombo_->setInsertPolicy(QComboBox::NoInsert);
    for (const tevrolink::SerialPortInfo &port : tevrolink::ListSerialPorts())
        portCombo_->addItem(QString::fromStdString(port.path));
    portCombo_->setCurrentIndex(0);
    addressEdit_ = Named(new QLineEdit(this), "addressEdit");
    addressEdit_->setPlaceholderText("0.0.0.0");
    // An IPv4 address as four numbers 0-255; "打开" refuses it until all four are there.
    addressEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString("%1?(\\.%1?){0,3}").arg(kOctet)), addressEdit_));
    openButton_ = Button("打开", "openButton", this);
    setupButton_ = Button("设置...", "setupButton", this);
    link->addWidget(serialRadio_, 0, 0);
    link->addWidget(portCombo_, 0, 1);
    link->addWidget(openButton_, 0, 2);
    link->addWidget(networkRadio_, 1, 0);
    link->addWidget(addressEdit_, 1, 1);
    link->addWidget(setupButton_, 1, 2);
    link->setColumnStretch(1, 1);

    picture_ = new LinkPicture(this);
    picture_->setEnabled(false);
    retransmissionCheck_ = Named(new QCheckBox("支持数据重传", this), "retransmissionCheck");
    traceOutputCheck_ = Named(new QCheckBox("输出运行信息", this), "traceOutputCheck");
    commandModeRadio_ = Named(new QRadioButton("命令设置模式", this), "commandModeRadio");
    dataModeRadio_ = Named(new QRadioButton("数据传输模式", this), "dataModeRadio");
    mode_ = new QButtonGroup(this);
    mode_->addButton(commandModeRadio_);
    mode_->addButton(dataModeRadio_);
    remoteButton_ = Button("远程...", "remoteButton", this);
    link->addWidget(picture_, 2, 0, 4, 1, Qt::AlignCenter);
    link->addWidget(retransmissionCheck_, 2, 1);
    link->addWidget(traceOutputCheck_, 3, 1);
    link->addWidget(commandModeRadio_, 4, 1);
    link->addWidget(dataModeRadio_, 5, 1);
    link->addWidget(remoteButton_, 4, 2, 2, 1, Qt::AlignVCenter);

    connect(serialRadio_, &QRadioButton::clicked, this, &LinkPanel::ChooseSerial);
    connect(networkRadio_, &QRadioButton::clicked, this, &LinkPanel::ChooseNetwork);
    connect(openButton_, &QPushButton::clicked, this, &LinkPanel::openOrCloseClicked);
    connect(setupButton_, &QPushButton::clicked, this, &LinkPanel::RunSetupDialog);
    connect(commandModeRadio_, &QRadioButton::clicked, this, &LinkPanel::commandModeClicked);
    connect(dataModeRadio_, &QRadioButton::clicked, this, &LinkPanel::dataModeClicked);
    connect(remoteButton_, &QPushButton::clicked, this, &LinkPanel::remoteClicked);
    // The worker reads these boxes and the link's name through copies.
    for (auto [box, id] : {std::pair{traceOutputCheck_, ControlId::TraceOutput},
                           std::pair{retransmissionCheck_, ControlId::Retransmission}})
        connect(box, &QCheckBox::toggled, this, [this, id](bool checked) { view_.SetChecked(id, checked); });
    connect(portCombo_, &QComboBox::currentTextChanged, this, &LinkPanel::KeepSelectorCopy);
    connect(addressEdit_, &QLineEdit::textChanged, this, &LinkPanel::KeepSelectorCopy);
    connect(serialRadio_, &QRadioButton::toggled, this, &LinkPanel::KeepSelectorCopy);

    // The start state: the serial interface chosen, command set mode.
    serialRadio_->setChecked(true);
    addressEdit_->setEnabled(false);
    openButton_->setText(IsShellActive() ? "关闭" : "打开");
    commandModeRadio_->setChecked(true);
    KeepSelectorCopy();
}

void LinkPanel::PointAtNetwork(const QString &address) {
    addressEdit_->setText(address);
    if (!IsShellActive()) ChooseNetwork();
}

bool LinkPanel::OpenShell() {
    AppState &state = manager_.State();
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
        if (!opened && reason.isEmpty()) reason = QString::fromStdString(NetworkOpenFailure(errno, net.localPort));
    } else {
        const QString port = portCombo_->currentText().trimmed();
        errno = 0;
        opened = OpenCOMShell(port.toLocal8Bit().constData(), state.comSettings.baudRate);
        if (!opened) reason = QString::fromStdString(SerialOpenFailure(errno, port.toStdString()));
    }
    if (opened) return true;
    QString text = "打开通讯端口失败, 请重试!";
    if (!reason.isEmpty()) text += "\n" + reason;
    Tell(this, kManagerCaption, text);
    return false;
}

void LinkPanel::ShowLinkOpen(bool open) {
    openButton_->setText(open ? "关闭" : "打开");
    retransmissionCheck_->setEnabled(!open);
    if (open)
        SetEnabled({portCombo_, addressEdit_}, false);
    else if (serialRadio_->isChecked())
        portCombo_->setEnabled(true);
    else
        addressEdit_->setEnabled(true);
    traceOutputCheck_->setEnabled(!open);
}

void LinkPanel::EnableInterfaceChoice(bool on) { SetEnabled({serialRadio_, networkRadio_, setupButton_}, on); }

void LinkPanel::EnableModes(bool on) { SetEnabled({commandModeRadio_, dataModeRadio_}, on); }

void LinkPanel::EnableRemote(bool on) { remoteButton_->setEnabled(on); }

void LinkPanel::ChooseCommandMode() { commandModeRadio_->setChecked(true); }

bool LinkPanel::RetransmissionChosen() const { return retransmissionCheck_->isChecked(); }

bool LinkPanel::TraceOutputChosen() const { return traceOutputCheck_->isChecked(); }

void LinkPanel::ResetPicture() {
    AppState &state = manager_.State();
    if (state.linkPicture.load() == LINK_PICTURE_IDLE) return;
    state.linkPicture.store(LINK_PICTURE_IDLE);
    picture_->ShowCode(LINK_PICTURE_IDLE);
}

void LinkPanel::ShowPicture(uint8_t code) { picture_->ShowCode(code); }

QWidget *LinkPanel::Control(ControlId control) const {
    switch (control) {
    case ControlId::CommandMode: return commandModeRadio_;
    case ControlId::DataMode: return dataModeRadio_;
    case ControlId::TraceOutput: return traceOutputCheck_;
    case ControlId::Retransmission: return retransmissionCheck_;
    default: return nullptr;
    }
}

void LinkPanel::ChooseSerial() {
    portCombo_->setEnabled(true);
    addressEdit_->setEnabled(false);
    serialRadio_->setChecked(true);
    KeepSelectorCopy();
}

void LinkPanel::ChooseNetwork() {
    portCombo_->setEnabled(false);
    addressEdit_->setEnabled(true);
    networkRadio_->setChecked(true);
    KeepSelectorCopy();
}

void LinkPanel::RunSetupDialog() {
    AppState &state = manager_.State();
    const bool network = networkRadio_->isChecked();
    if (!(network ? bool(setupDialogs_.network) : bool(setupDialogs_.serial))) {
        Tell(this, kManagerCaption, "此版本没有接口设置对话框 (libtevrolink-dialogs), 无法进行设置。");
        return;
    }
    state.comSettings.portName = portCombo_->currentText().left(255).toStdString();
    HandLinkToWindow(state);
    if (network)
        setupDialogs_.network(window(), state.netSettings, addressEdit_);
    else
        setupDialogs_.serial(window(), state.comSettings);
    state.linkMode.store(LINK_NO_MODE);
}

void LinkPanel::KeepSelectorCopy() {
    const QString text = serialRadio_->isChecked() ? portCombo_->currentText() : addressEdit_->text();
    view_.SetSelectorText(text.left(255).toStdString());
}

}  // namespace meradon::ui
