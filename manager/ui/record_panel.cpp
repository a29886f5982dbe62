#include "manager/ui/record_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "manager/core/output_directory.h"
#include "manager/ui/controls.h"
#include "manager/ui/message_boxes.h"
#include "manager/ui/record_list.h"

namespace meradon::ui {

RecordPanel::RecordPanel(Manager &manager, WindowView &view, Clock &clock, QWidget *parent)
    : QWidget(parent), manager_(manager), view_(view), clock_(clock) {
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

    connect(clearButton_, &QPushButton::clicked, records_, &RecordList::ClearLines);
    connect(saveButton_, &QPushButton::clicked, this, [this] { Save(false); });
}

void RecordPanel::AddLine(const QString &text, LineStyle style) {
    if (style == LineStyle::Stamped) {
        const LocalTime t = clock_.Local();
        records_->AddLine(QString::asprintf("[%02d:%02d:%02d] ", t.hour, t.minute, t.second) + text);
    } else {
        records_->AddLine("      " + text);
    }
}

void RecordPanel::Save(bool quiet) {
    const QStringList lines = records_->Lines();
    if (lines.isEmpty()) return;
    const std::string name = ReportFileName(view_.LinkSelectorText(), clock_.Local());
    const OutputDirectory &output = manager_.Context().output;
    FileHandle file = output.Open(name, "wb");
    if (!file) return;
    const QByteArray bytes = ReportBytes(lines);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file.get());
    file.reset();
    if (!quiet)
        Tell(this, kShortCaption,
             QString("文件保存在 %1").arg(QString::fromStdString((output.Path() / name).string())));
}

void RecordPanel::Enable(bool on) { SetEnabled({records_, clearButton_, saveButton_}, on); }

}  // namespace meradon::ui
