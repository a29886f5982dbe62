#include "manager/ui/remote_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "manager/core/app_state.h"
#include "manager/core/text_format.h"
#include "manager/ui/message_boxes.h"
#include "tevrolink/tevrolink.h"

namespace meradon::ui {

namespace {

struct Device {
    const char *name;
    uint8_t code;
};

enum DeviceIndex { kUart0, kUart1, kLcd, kFlash, kEeprom, kDefault };

const Device kDevices[] = {
    {"UART-0 串口", OUT_UART0}, {"UART-1 串口", OUT_UART1},   {"LCD 显示屏", OUT_LCD},
    {"Flash 设备", OUT_FLASH},  {"EEPROM 设备", OUT_EEPROM}, {"缺省输出设备", OUT_DEFAULT},
};

constexpr uint32_t kUartBaud = 115200;
constexpr uint32_t kLcdSetting = 2;
constexpr uint32_t kWholeDevice = 0xFFFFFFFF;
constexpr uint32_t kMaxCoordinate = 0xFFFF;  // LCD row and column
// How long a request waits for the end of a sending's last steps.
constexpr int kSendingEndWaitMs = 10000;
// How long a request waits for the acknowledgement of the frame before it.
constexpr int kAcknowledgementWaitMs = 1000;
constexpr uint8_t kLinkAwaitingAck = 2;

const char *const H = "该操作将指示无线接收站点进行如下操作:         \r\n\r\n";
const char *const C1 = "   [1] 关闭当前的数据输出通道或设备\r\n";
const char *const Q = "您确认要继续进行吗?";
const char *const W = "请注意:\r\n   该操作可能导致不可恢复的数据损坏\r\n\r\n";

QLineEdit *NumberEdit(const char *name, QWidget *parent) {
    auto *edit = new QLineEdit("0", parent);
    edit->setObjectName(name);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString &text) {
        const int cursor = edit->cursorPosition();
        edit->setText(text.toUpper());
        edit->setCursorPosition(cursor);
    });
    return edit;
}

// Runs the event loop until `done` holds or `limitMs` has passed; returns done().
bool WaitFor(const std::function<bool()> &done, int limitMs) {
    if (done()) return true;
    QEventLoop wait;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (done() || waited.elapsed() > limitMs) wait.quit();
    });
    poll.start(5);
    wait.exec();
    return done();
}

}  // namespace

uint32_t ParseDeviceNumber(const QString &text, int base) {
    const QByteArray bytes = text.left(255).toLatin1();
    const char *begin = bytes.constData();
    while (*begin == ' ' || (*begin >= '\t' && *begin <= '\r')) ++begin;
    const bool negative = *begin == '-';
    // One sign, then a digit at once: anything else ("- 5", "--1") converts nothing.
    const char *digits = begin + (negative || *begin == '+');
    const auto first = static_cast<unsigned char>(*digits);
    if (base == 16 ? !std::isxdigit(first) : !std::isdigit(first)) return 0;
    errno = 0;
    // Parsed in 64 bits, then brought to the 32-bit result a 32-bit strtoul gives: a
    // magnitude beyond 32 bits is the maximum, a negative one is negated modulo 2^32.
    const unsigned long long value = std::strtoull(digits, nullptr, base);
    if (errno == ERANGE || value > 0xFFFFFFFFull) return 0xFFFFFFFF;
    const auto magnitude = static_cast<uint32_t>(value);
    return negative ? static_cast<uint32_t>(0u - magnitude) : magnitude;
}

RemoteDialog::RemoteDialog(AppState &state, QWidget *parent) : QDialog(parent), state_(state) {
    setObjectName("remoteDialog");
    setWindowTitle(QString::fromUtf8("Zelkora Wireless Network Manager -  远程设置"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto *group = new QGroupBox(QString::fromUtf8("接收站点---输出设备"), this);
    device_ = new QComboBox(group);
    device_->setObjectName("deviceCombo");
    for (const Device &d : kDevices) device_->addItem(QString::fromUtf8(d.name));
    device_->setCurrentIndex(0);
    set_ = new QPushButton(QString::fromUtf8("设置"), group);
    set_->setObjectName("setDeviceButton");
    clear_ = new QPushButton(QString::fromUtf8("清除"), group);
    clear_->setObjectName("clearDeviceButton");
    hex_ = new QCheckBox(QString::fromUtf8("十六进制"), group);
    hex_->setObjectName("hexCheck");
    address_ = NumberEdit("addressEdit", group);
    size_ = NumberEdit("sizeEdit", group);
    row_ = NumberEdit("rowEdit", group);
    column_ = NumberEdit("columnEdit", group);

    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QString::fromUtf8("设备名称:"), group), 0, 0);
    grid->addWidget(device_, 0, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(set_);
    buttons->addWidget(clear_);
    grid->addLayout(buttons, 0, 2, 1, 2);
    grid->addWidget(new QLabel(QString::fromUtf8("设备信息:"), group), 1, 0);
    grid->addWidget(hex_, 1, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("地址:"), group), 2, 0, Qt::AlignRight);
    grid->addWidget(address_, 2, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("大小:"), group), 2, 2, Qt::AlignRight);
    grid->addWidget(size_, 2, 3);
    grid->addWidget(new QLabel(QString::fromUtf8("行线:"), group), 3, 0, Qt::AlignRight);
    grid->addWidget(row_, 3, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("列线:"), group), 3, 2, Qt::AlignRight);
    grid->addWidget(column_, 3, 3);

    auto *close = new QPushButton(QString::fromUtf8("关闭"), this);
    close->setObjectName("closeButton");
    close->setDefault(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(close, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(set_, &QPushButton::clicked, this, &RemoteDialog::SetOutputDevice);
    connect(clear_, &QPushButton::clicked, this, &RemoteDialog::ClearOutputDevice);
    connect(device_, &QComboBox::currentIndexChanged, this, &RemoteDialog::UpdateOutputFields);
}

void RemoteDialog::UpdateOutputFields() {
    const int index = device_->currentIndex();
    const bool lcd = index == kLcd;
    const bool memory = index == kFlash || index == kEeprom;
    set_->setEnabled(true);
    clear_->setEnabled(lcd || memory);
    hex_->setEnabled(lcd || memory);
    address_->setEnabled(memory);
    size_->setEnabled(lcd || memory);
    row_->setEnabled(lcd);
    column_->setEnabled(lcd);
}

uint32_t RemoteDialog::Field(QLineEdit *edit) const {
    return ParseDeviceNumber(edit->text(), hex_->isChecked() ? 16 : 10);
}

bool RemoteDialog::PositionFits(uint32_t row, uint32_t column) {
    if (row <= kMaxCoordinate && column <= kMaxCoordinate) return true;
    Messages().Ask(this, {QString::fromUtf8("提示"), QString::fromUtf8("输入越界,有效的坐标在0-65535"),
                          QMessageBox::Warning, false});
    return false;
}

std::string RemoteDialog::PositionText(uint32_t row, uint32_t column) const {
    return hex_->isChecked() ? Format("(0X%04X, 0X%04X)", row, column) : Format("(%u, %u)", row, column);
}

std::string RemoteDialog::AddressText(uint32_t address) const {
    return hex_->isChecked() ? Format("0X%08X", address) : Format("%u", address);
}

void RemoteDialog::SetOutputDevice() {
    const int index = device_->currentIndex();
    if (index < 0) return;
    const uint8_t code = kDevices[index].code;
    std::string text;
    uint32_t setting = 0, position = 0;
    switch (index) {
    case kUart0:
    case kUart1:
        text = Format("%s%s   [2] 将收到的数据输出到 UART-%d 端口\r\n\r\n%s", H, C1,
                      index == kUart0 ? 0 : 1, Q);
        setting = kUartBaud;
        break;
    case kLcd: {
        const uint32_t row = Field(row_), column = Field(column_);
        if (!PositionFits(row, column)) return;
        text = Format("%s%s%s   [3] 设备初始显示坐标为 %s\r\n\r\n%s", H, C1,
                      "   [2] 将收到的数据输出到 LCD 液晶屏\r\n", PositionText(row, column).c_str(), Q);
        setting = kLcdSetting;
        position = row * 65536 + column;
        break;
    }
    case kFlash:
    case kEeprom:
        position = Field(address_);
        text = Format("%s%s%s   [3] 设备初始读写位置为 %s\r\n\r\n%s", H, C1,
                      index == kFlash ? "   [2] 将收到的数据输出到串行 Flash 设备\r\n"
                                      : "   [2] 将收到的数据输出到串行 EEPROM 设备\r\n",
                      AddressText(position).c_str(), Q);
        break;
    default: text = Format("%s%s   [2] 将收到的数据输出到协议栈 FIFO 队列\r\n\r\n%s", H, C1, Q); break;
    }
    if (!Messages().Ask(this, {QString::fromUtf8("提示"), QString::fromStdString(text),
                               QMessageBox::Information, true}))
        return;
    SendToStation([=](uint8_t peer) { SetPeerNodeOutputFile(peer, code, setting, position); });
}

void RemoteDialog::ClearOutputDevice() {
    const int index = device_->currentIndex();
    if (index != kLcd && index != kFlash && index != kEeprom) return;
    const uint8_t code = kDevices[index].code;
    const uint32_t size = Field(size_);
    const bool whole = size == kWholeDevice;
    std::string text;
    uint32_t position = 0;
    Message message{QString::fromUtf8("警告"), {}, QMessageBox::Warning, true};
    if (index == kLcd) {
        const uint32_t row = Field(row_), column = Field(column_);
        if (!PositionFits(row, column)) return;
        position = row * 65536 + column;
        const std::string where = PositionText(row, column);
        text = whole ? Format("%s   [1] 设备初始读写位置为%s\r\n   [2] 清除整个 LCD 液晶屏\r\n\r\n%s", H,
                              where.c_str(), Q)
                     : Format("%s   [1] 设备初始读写位置为%s\r\n   [2] 清除 LCD 液晶屏%u个字符\r\n\r\n%s", H,
                              where.c_str(), size, Q);
        message.caption = QString::fromUtf8("提示");
        message.icon = QMessageBox::Information;
    } else {
        position = Field(address_);
        const char *name = index == kFlash ? "Flash" : "EEPROM";
        const std::string where = AddressText(position);
        // The whole-device texts end after the device's name, without warning or question.
        text = whole ? Format("%s   [1] 串行 %s 设备初始读写位置为 %s\r\n   [2] 清除整个串行 %s 设备", H,
                              name, where.c_str(), name)
                     : Format("%s   [1] 串行 %s 设备初始读写位置为 %s\r\n   [2] 清除串行 %s 设备 %u 个字符\r\n\r\n%s%s",
                              H, name, where.c_str(), name, size, W, Q);
    }
    message.text = QString::fromStdString(text);
    if (!Messages().Ask(this, message)) return;
    SendToStation([=](uint8_t peer) { ClearPeerNodeOutputFile(peer, code, position, size); });
}

// The request is one stream frame written from this thread while the worker keeps
// linkMode 1 and goes on polling (it takes in the frame's acknowledgement). The library's
// process-wide lock makes the write itself atomic against the worker's calls. The other
// writer of stream frames is the file sending, whose steps run while sendState is not
// IDLE; the dialog is reachable only when no file is open, but the last steps of a pass
// (waiting for the host node to drain, the report) may still be running, so the request
// waits for them to end. Nothing can arm a new sending while this modal dialog is open,
// so once the state is IDLE the frame slot stays free for the request. A request right
// after another one finds the slot taken until the worker has taken in the other's
// acknowledgement, which it does at its next poll; the library would refuse the frame.
void RemoteDialog::SendToStation(const std::function<void(uint8_t peer)> &request) {
    if (!WaitFor([this] { return state_.sendState.load() == IDLE; }, kSendingEndWaitMs)) return;
    WaitFor([] {
        uint8_t link = 0;
        IsShellWritable(&link, nullptr);
        return link != kLinkAwaitingAck;
    }, kAcknowledgementWaitMs);
    request(state_.peerNode.load());
}

}  // namespace meradon::ui
