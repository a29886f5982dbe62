#include "manager/ui/record_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/ui/controls.h"
#include "manager/ui/message_boxes.h"
#include "manager/ui/record_list.h"

namespace meradon::ui {

RecordPanel::RecordPanel(Manager &manager, QWidget *parent) : QWidget(parent), manager_(manager) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *recordBar = new QHBoxLayout;
    recordBar->addWidget(new QLabel("操作记录:", this));
    recordBar->addStretch(1);
    saveButton_ = Button("保存", "saveButton", this);
    clearButton_ = Button("清除", "clearButton", this);
    recordBar->addWidget(saveButton_);
    recordBar->addWidget(clearButton_);
    layout->addLayout(recordBar);
    records_ = new RecordList(this);
    layout->addWidget(records_, 1);

    connect(clearButton_, &QPushButton::clicked, this, &RecordPanel::Clear);
    connect(saveButton_, &QPushButton::clicked, this, [this] { Save(false); });
}

void RecordPanel::AddLine(const QString &text, LineStyle style) {
    records_->AddLine(QString::fromStdString(manager_.KeepRecordLine(text.toStdString(), style)));
}

void RecordPanel::Save(bool quiet) {
    const std::filesystem::path saved = manager_.SaveRecord();
    if (!saved.empty() && !quiet)
        Tell(this, kShortCaption, QString("文件保存在 %1").arg(QString::fromStdString(saved.string())));
}

void RecordPanel::Clear() {
    manager_.ClearRecord();
    records_->ClearLines();
}

void RecordPanel::Enable(bool on) { SetEnabled({records_, clearButton_, saveButton_}, on); }

}  // namespace meradon::ui
