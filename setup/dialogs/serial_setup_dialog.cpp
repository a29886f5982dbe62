#include "setup/dialogs/serial_setup_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "setup/baud_search.h"
#include "setup/dialogs/message_box.h"

namespace tevrolink::dialogs {

SerialSetupDialog::SerialSetupDialog(ComSettings *settings, QWidget *parent)
    : QDialog(parent),
      settings_(settings),
      portName_(settings->portName, strnlen(settings->portName, sizeof settings->portName)),
      activeWindow_(this, settings->activeWindow),
      rateList_(new QComboBox(this)),
      setRateButton_(new QPushButton(QStringLiteral("设置"), this)),
      searchLog_(new QListWidget(this)),
      searchButton_(new QPushButton(QStringLiteral("测试"), this)),
      clearLogButton_(new QPushButton(QStringLiteral("清除"), this)),
      closeButton_(new QPushButton(QStringLiteral("关闭"), this)) {
    setWindowTitle(QString::asprintf("%s - %s:%lu", kCaption, portName_.c_str(),
                                     static_cast<unsigned long>(settings->baudRate)));
    rateList_->setObjectName("baudRateList");
    setRateButton_->setObjectName("setRateButton");
    searchLog_->setObjectName("searchLog");
    searchButton_->setObjectName("searchButton");
    clearLogButton_->setObjectName("clearLogButton");
    closeButton_->setObjectName("closeButton");

    for (uint32_t rate : kSearchRates) rateList_->addItem(QString::number(rate));
    rateList_->setCurrentIndex(SearchRateIndex(settings->baudRate));
    searchButton_->setDefault(true);
    for (QPushButton *button : {setRateButton_, clearLogButton_, closeButton_})
        button->setAutoDefault(false);
    searchLog_->setMinimumSize(420, 240);

    auto *rateRow = new QHBoxLayout;
    rateRow->addWidget(new QLabel(QStringLiteral("无线设备波特率:"), this));
    rateRow->addWidget(rateList_, 1);
    rateRow->addWidget(setRateButton_);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(searchButton_);
    buttonRow->addWidget(clearLogButton_);
    buttonRow->addWidget(closeButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(rateRow);
    layout->addWidget(searchLog_, 1);
    layout->addLayout(buttonRow);

    connect(searchButton_, &QPushButton::clicked, this, &SerialSetupDialog::StartSearch);
    connect(clearLogButton_, &QPushButton::clicked, searchLog_, &QListWidget::clear);
    connect(closeButton_, &QPushButton::clicked, this, &SerialSetupDialog::reject);
    connect(setRateButton_, &QPushButton::clicked, this, &SerialSetupDialog::SetDeviceRate);
}

SerialSetupDialog::~SerialSetupDialog() {
    // Only when the owner window goes while a search runs; its queued lines are dropped.
    if (search_.joinable()) search_.join();
}

void SerialSetupDialog::reject() {
    if (closeButton_->isEnabled()) done(0);
}

bool SerialSetupDialog::event(QEvent *event) {
    activeWindow_.Notice(event);
    return QDialog::event(event);
}

void SerialSetupDialog::EnableCommands(bool enable) {
    for (QPushButton *button : {setRateButton_, searchButton_, closeButton_})
        button->setEnabled(enable);
}

void SerialSetupDialog::AppendLine(const QString &line, bool select) {
    searchLog_->addItem(line);
    if (select) searchLog_->setCurrentRow(searchLog_->count() - 1);
}

void SerialSetupDialog::StartSearch() {
    searchLog_->clear();
    EnableCommands(false);
    // The engine reports from the search thread; every report is queued to this window's
    // thread, in order, so the widgets are touched only there.
    BaudSearchEvents events;
    events.line = [this](const std::string &line, bool select) {
        const QString text = QString::fromStdString(line);
        QMetaObject::invokeMethod(
            this, [this, text, select] { AppendLine(text, select); }, Qt::QueuedConnection);
    };
    events.found = [this](int index) {
        QMetaObject::invokeMethod(
            this, [this, index] { rateList_->setCurrentIndex(index); }, Qt::QueuedConnection);
    };
    search_ = std::thread([this, events = std::move(events)] {
        const uint32_t rate = SearchBaudRate(portName_, events);
        QMetaObject::invokeMethod(
            this, [this, rate] { FinishSearch(rate); }, Qt::QueuedConnection);
    });
}

void SerialSetupDialog::FinishSearch(uint32_t rateFound) {
    search_.join();
    if (rateFound != 0) settings_->baudRate = rateFound;
    EnableCommands(true);
}

void SerialSetupDialog::SetDeviceRate() {
    const QString text = rateList_->currentText();
    if (text.isEmpty()) return;
    // The device still runs at the rate the record knows; it takes the new one only after
    // a restart, so the record keeps its rate.
    switch (ChangeDeviceBaudRate(portName_, settings_->baudRate, text.toUInt())) {
    case RateChange::PortNotOpened:
        ShowMessage(this, QString::asprintf("打开串口 %s 失败", portName_.c_str()),
                    QMessageBox::Information);
        break;
    case RateChange::Accepted:
        ShowMessage(this, QStringLiteral("波特率设置成功，请重新启动无线设备"));
        break;
    case RateChange::Refused:
        ShowMessage(this, QStringLiteral("波特率设置失败"));
        break;
    }
}

}  // namespace tevrolink::dialogs
