#include "manager/ui/host_settings_panel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <string>

#include "manager/ui/controls.h"
#include "manager/ui/message_boxes.h"
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

QLineEdit *DigitsEdit(const char *name, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 10);
    return edit;
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

}  // namespace

HostSettingsPanel::HostSettingsPanel(QWidget *parent) : QWidget(parent) {
    auto *settings = new QGridLayout(this);
    settings->setContentsMargins(0, 0, 0, 0);
    stationEdit_ = DigitsEdit("stationEdit", this);
    readStationButton_ = Button("读取", "readStationButton", this);
    setStationButton_ = Button("设置", "setStationButton", this);
    receiverRadio_ = Named(new QRadioButton("接收点", this), "receiverRadio");
    broadcastRadio_ = Named(new QRadioButton("多点广播模式", this), "broadcastRadio");
    receiver_ = new QButtonGroup(this);
    receiver_->addButton(receiverRadio_);
    receiver_->addButton(broadcastRadio_);
    peerEdit_ = DigitsEdit("peerEdit", this);
    readPeerButton_ = Button("读取", "readPeerButton", this);
    setPeerButton_ = Button("设置", "setPeerButton", this);
    clockButton_ = Button("校准时钟", "clockButton", this);
    settings->addWidget(new QLabel("本机站点:", this), 0, 0);
    settings->addWidget(stationEdit_, 0, 1);
    settings->addWidget(readStationButton_, 0, 2);
    settings->addWidget(setStationButton_, 0, 3);
    settings->addWidget(receiverRadio_, 1, 0);
    settings->addWidget(peerEdit_, 1, 1);
    settings->addWidget(readPeerButton_, 1, 2);
    settings->addWidget(setPeerButton_, 1, 3);
    settings->addWidget(broadcastRadio_, 2, 0, 1, 2);
    settings->addWidget(clockButton_, 2, 2, 1, 2);

    point1Edit_ = DigitsEdit("point1Edit", this);
    readPoint1Button_ = Button("读取", "readPoint1Button", this);
    setPoint1Button_ = Button("设置", "setPoint1Button", this);
    point2Edit_ = DigitsEdit("point2Edit", this);
    readPoint2Button_ = Button("读取", "readPoint2Button", this);
    setPoint2Button_ = Button("设置", "setPoint2Button", this);
    retransmissionCombo_ = Named(new QComboBox(this), "retransmissionCombo");
    retransmissionCombo_->addItems({"开启", "关闭"});
    retransmissionCombo_->setCurrentIndex(0);
    readRetransmissionButton_ = Button("读取", "readRetransmissionButton", this);
    setRetransmissionButton_ = Button("设置", "setRetransmissionButton", this);
    powerCombo_ = Named(new QComboBox(this), "powerCombo");
    for (const char *level : kPowerLevels) powerCombo_->addItem(level);
    powerCombo_->setCurrentIndex(0);
    readPowerButton_ = Button("读取", "readPowerButton", this);
    setPowerButton_ = Button("设置", "setPowerButton", this);
    const struct {
        const char *label;
        QWidget *field;
        QPushButton *read, *set;
    } rows[] = {{"第一频点:", point1Edit_, readPoint1Button_, setPoint1Button_},
                {"第二频点:", point2Edit_, readPoint2Button_, setPoint2Button_},
                {"数据重传:", retransmissionCombo_, readRetransmissionButton_, setRetransmissionButton_},
                {"发射功率:", powerCombo_, readPowerButton_, setPowerButton_}};
    for (int r = 0; r < 4; ++r) {
        settings->addWidget(new QLabel(rows[r].label, this), r, 5);
        settings->addWidget(rows[r].field, r, 6);
        settings->addWidget(rows[r].read, r, 7);
        settings->addWidget(rows[r].set, r, 8);
    }
    settings->setColumnMinimumWidth(4, fontMetrics().averageCharWidth() * 2);
    settings->setColumnStretch(4, 1);
    settings->addWidget(new QLabel("无线网络站点列表:", this), 3, 0, 1, 4, Qt::AlignBottom);

    auto on = [this](QAbstractButton *button, void (HostSettingsPanel::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, handler);
    };
    on(setStationButton_, &HostSettingsPanel::SetStation);
    on(readStationButton_, &HostSettingsPanel::ReadStation);
    on(setPeerButton_, &HostSettingsPanel::SetPeer);
    on(readPeerButton_, &HostSettingsPanel::ReadPeer);
    on(receiverRadio_, &HostSettingsPanel::ChooseReceiver);
    on(broadcastRadio_, &HostSettingsPanel::ChooseBroadcast);
    connect(setPoint1Button_, &QPushButton::clicked, this, [this] { SetPoint(point1Edit_, SetFrequencyPointX1); });
    on(readPoint1Button_, &HostSettingsPanel::ReadPoint1);
    connect(setPoint2Button_, &QPushButton::clicked, this, [this] { SetPoint(point2Edit_, SetFrequencyPointX2); });
    on(readPoint2Button_, &HostSettingsPanel::ReadPoint2);
    on(setRetransmissionButton_, &HostSettingsPanel::SetRetransmission);
    on(readRetransmissionButton_, &HostSettingsPanel::ReadRetransmission);
    on(setPowerButton_, &HostSettingsPanel::SetPower);
    on(readPowerButton_, &HostSettingsPanel::ReadPower);
    connect(clockButton_, &QPushButton::clicked, this, [] { SetHostRTCTimer(); });

    receiverRadio_->setChecked(true);
}

void HostSettingsPanel::Enable(bool on) {
    SetEnabled({stationEdit_, setStationButton_, readStationButton_}, on);
    if (on) {
        SetEnabled({receiverRadio_, broadcastRadio_, readPeerButton_}, true);
        SetEnabled({peerEdit_, setPeerButton_}, receiverRadio_->isChecked());
    } else {
        SetEnabled({receiverRadio_, broadcastRadio_, peerEdit_, setPeerButton_, readPeerButton_}, false);
    }
    SetEnabled({point1Edit_, point2Edit_, setPoint1Button_, setPoint2Button_, readPoint1Button_,
                readPoint2Button_, retransmissionCombo_, setRetransmissionButton_,
                readRetransmissionButton_, powerCombo_, setPowerButton_, readPowerButton_, clockButton_},
               on);
}

uint8_t HostSettingsPanel::PeerNumber() const { return static_cast<uint8_t>(DecimalValue(peerEdit_) & 0xFF); }

void HostSettingsPanel::SetStation() {
    const unsigned long long value = DecimalValue(stationEdit_);
    if (value == 0 || value > kMaxStation) {
        Tell(this, kShortCaption, kBadStation);
        return;
    }
    uint8_t now = 0;
    if (SetHostNodeID(static_cast<int>(value), &now) == 1) stationEdit_->setText(QString::number(now));
}

void HostSettingsPanel::ReadStation() {
    uint8_t number = 0;
    if (GetHostNodeID(&number, nullptr) == 1) stationEdit_->setText(QString::number(number));
}

void HostSettingsPanel::SetPeer() {
    uint8_t number = 0, role = 0;
    if (GetHostNodeID(&number, &role) != 1) return;
    stationEdit_->setText(QString::number(number));
    if (role != 0) {
        const unsigned long long value = DecimalValue(peerEdit_);
        if (value == 0 || value > kMaxStation) {
            Tell(this, kShortCaption, kBadStation);
            return;
        }
        uint8_t peer = 0;
        if (SetPeerNodeID(static_cast<int>(value), &peer) == 1) peerEdit_->setText(QString::number(peer));
        return;
    }
    uint8_t peer = 0;
    if (GetPeerNodeID(&peer) == 1) peerEdit_->setText(QString::number(peer));
    Tell(this, kShortCaption, "从节点仅能向主节点发送数据,无需指定");
}

void HostSettingsPanel::ReadPeer() {
    uint8_t peer = 0;
    if (GetPeerNodeID(&peer) != 1) return;
    const bool broadcast = peer == 0;
    peerEdit_->setText(broadcast ? QString() : QString::number(peer));
    (broadcast ? broadcastRadio_ : receiverRadio_)->setChecked(true);
    SetEnabled({peerEdit_, setPeerButton_}, !broadcast);
}

void HostSettingsPanel::ChooseReceiver() { SetEnabled({peerEdit_, setPeerButton_}, true); }

void HostSettingsPanel::ChooseBroadcast() {
    uint8_t number = 0, role = 0;
    if (GetHostNodeID(&number, &role) != 1) return;
    stationEdit_->setText(QString::number(number));
    if (role == 0) {
        Tell(this, kShortCaption, "从节点不支持广播功能");
        return;
    }
    SetEnabled({peerEdit_, setPeerButton_}, false);
    SetPeerNodeID(0, nullptr);
}

void HostSettingsPanel::SetPoint(QLineEdit *edit, int (*set)(int, uint8_t *)) {
    const unsigned long long value = DecimalValue(edit);
    if (value > kMaxPoint) {
        Tell(this, kShortCaption, kBadPoint);
        return;
    }
    uint8_t now = 0;
    if (set(static_cast<int>(value), &now) == 1) edit->setText(QString::number(now));
}

void HostSettingsPanel::ReadPoint(QLineEdit *edit, int (*get)(uint8_t *)) {
    uint8_t point = 0;
    if (get(&point) == 1) edit->setText(QString::number(point));
}

void HostSettingsPanel::ReadPoint1() { ReadPoint(point1Edit_, GetFrequencyPointX1); }

void HostSettingsPanel::ReadPoint2() { ReadPoint(point2Edit_, GetFrequencyPointX2); }

void HostSettingsPanel::SetRetransmission() {
    const int index = retransmissionCombo_->currentIndex();
    if (index == 0) SetShellHandShake(1);
    if (index == 1) SetShellHandShake(0);
}

void HostSettingsPanel::ReadRetransmission() {
    uint8_t on = 0;
    if (GetShellHandShake(&on) != 1) return;
    retransmissionCombo_->setCurrentIndex(on ? 0 : 1);
    emit retransmissionRead(on != 0);
}

void HostSettingsPanel::SetPower() {
    uint8_t now = 0;
    if (SetWirelessPower(powerCombo_->currentIndex(), &now) == 1) powerCombo_->setCurrentIndex(now);
}

void HostSettingsPanel::ReadPower() {
    uint8_t level = 0;
    if (GetWirelessPower(&level) == 1) powerCombo_->setCurrentIndex(level);
}

void HostSettingsPanel::ReadVersion() {
    const std::string prefix = std::string(kManagerCaption) + " - ";
    std::string version(kVersionBuffer - prefix.size(), '\0');
    if (GetFirmwareVersion(reinterpret_cast<uint8_t *>(version.data()), static_cast<int>(version.size())) != 1)
        return;
    // Device texts are GBK; the conversion stops at the first NUL.
    emit versionRead(QString::fromStdString(prefix + tevrolink::GbkToUtf8(version)));
}

}  // namespace meradon::ui
