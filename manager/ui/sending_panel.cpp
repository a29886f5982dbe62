#include "manager/ui/sending_panel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/ui/controls.h"
#include "tevrolink/tevrolink.h"

namespace meradon::ui {

SendingPanel::SendingPanel(Manager &manager, WindowView &view, QWidget *parent)
    : QWidget(parent), manager_(manager), view_(view) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *fileBar = new QHBoxLayout;
    fileBar->addWidget(new QLabel("传送文件:", this));
    fileBar->addStretch(1);
    loopCheck_ = Named(new QCheckBox("循环传送", this), "loopSendingCheck");
    autoSaveCheck_ = Named(new QCheckBox("自动保存", this), "autoSaveCheck");
    fileBar->addWidget(loopCheck_);
    fileBar->addWidget(autoSaveCheck_);
    layout->addLayout(fileBar);
    auto *fileRow = new QHBoxLayout;
    fileEdit_ = Named(new QLineEdit(this), "sendFileEdit");
    chooseButton_ = Button("选择...", "chooseFileButton", this);
    fileRow->addWidget(fileEdit_, 1);
    fileRow->addWidget(chooseButton_);
    layout->addLayout(fileRow);

    layout->addWidget(new QLabel("发送占用缓冲:", this));
    bufferProgress_ = Named(new QProgressBar(this), "bufferProgress");
    bufferProgress_->setTextVisible(false);
    bufferProgress_->setMaximumHeight(fontMetrics().height() / 2 + 2);
    layout->addWidget(bufferProgress_);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(new QLabel("传送进度:", this));
    transferText_ = Named(new QLabel(this), "transferText");
    progressRow->addWidget(transferText_, 1);
    layout->addLayout(progressRow);
    transferProgress_ = Named(new QProgressBar(this), "transferProgress");
    transferProgress_->setTextVisible(false);
    layout->addWidget(transferProgress_);
    for (QProgressBar *bar : {bufferProgress_, transferProgress_}) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }

    auto *sendRow = new QHBoxLayout;
    elapsedClock_ = Named(new QLabel(this), "elapsedClock");
    sendButton_ = Button("传送", "sendButton", this);
    cancelButton_ = Button("撤消", "cancelButton", this);
    sendRow->addWidget(elapsedClock_, 1);
    sendRow->addWidget(sendButton_);
    sendRow->addWidget(cancelButton_);
    layout->addLayout(sendRow);

    connect(chooseButton_, &QPushButton::clicked, this, &SendingPanel::ChooseFile);
    connect(sendButton_, &QPushButton::clicked, this, &SendingPanel::Start);
    connect(cancelButton_, &QPushButton::clicked, this, &SendingPanel::Cancel);
    // The worker reads these boxes through copies.
    for (auto [box, id] : {std::pair{loopCheck_, ControlId::LoopSending}, std::pair{autoSaveCheck_, ControlId::AutoSave}})
        connect(box, &QCheckBox::toggled, this, [this, id](bool checked) { view_.SetChecked(id, checked); });
    connect(loopCheck_, &QCheckBox::clicked, this,
            [this](bool checked) { manager_.State().loopSend.store(checked ? 1 : 0); });
    view_.SetChecked(ControlId::LoopSending, loopCheck_->isChecked());
}

void SendingPanel::Enable(bool on) {
    SetEnabled({loopCheck_, autoSaveCheck_, fileEdit_, chooseButton_, sendButton_}, on);
    cancelButton_->setEnabled(false);
    bufferProgress_->setValue(0);
    transferProgress_->setValue(0);
}

void SendingPanel::EnableFileChoice(bool on) { SetEnabled({fileEdit_, chooseButton_}, on); }

QWidget *SendingPanel::Control(ControlId control) const {
    switch (control) {
    case ControlId::Send: return sendButton_;
    case ControlId::Cancel: return cancelButton_;
    case ControlId::TransferProgress: return transferProgress_;
    case ControlId::TransferText: return transferText_;
    case ControlId::BufferProgress: return bufferProgress_;
    case ControlId::LoopSending: return loopCheck_;
    case ControlId::ElapsedClock: return elapsedClock_;
    case ControlId::AutoSave: return autoSaveCheck_;
    default: return nullptr;
    }
}

void SendingPanel::ChooseFile() {
    const QString path = QFileDialog::getOpenFileName(window(), QString(), QString(), "所有文件 (*)");
    if (!path.isEmpty()) fileEdit_->setText(path);
}

void SendingPanel::Start() {
    const PrepareResult result = manager_.StartSending(fileEdit_->text().toStdString());
    if (result == PrepareResult::NotReady) return;
    if (result != PrepareResult::Armed) {
        Tell(this, "信息", PrepareResultText(result), QMessageBox::NoIcon);
        return;
    }
    emit started();
    sendButton_->setEnabled(false);
    cancelButton_->setEnabled(true);
}

void SendingPanel::Cancel() {
    manager_.SendingCancelled();
    view_.PostCommand(CMD_TRANSFER_END);
    StopHost();
}

void SendingPanel::End() {
    manager_.FinishSending();
    if (manager_.Resending()) return;  // the next station follows; its end comes later
    cancelButton_->setEnabled(false);
    if (!manager_.InDataMode()) return;  // closed meanwhile: the controls stay as the close left them
    sendButton_->setEnabled(true);
    emit ended();
}

void SendingPanel::FileSent() {
    manager_.FinishSending();
    cancelButton_->setEnabled(false);  // what is left is the host node's to finish
}

}  // namespace meradon::ui
