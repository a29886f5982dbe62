#include "manager/ui/receptions_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>

#include "manager/core/history/history_reader.h"
#include "manager/core/history/history_store.h"
#include "manager/core/reception.h"

namespace meradon::ui {

namespace {

enum Column { kStart, kEnd, kSize, kAnnounced, kVerdict, kFile, kColumns };

// The record's words for each verdict.
const std::pair<const char *, const char *> kVerdictTexts[] = {
    {kVerdictReceived, "接收成功"},        {kVerdictUnannounced, "接收完成"},
    {kVerdictWrongSize, "尺寸错误"},       {kVerdictWrongContent, "内容错误"},
    {kVerdictSourceUnchecked, "原文未校验"}, {kVerdictTargetUnchecked, "目标未校验"},
    {kVerdictUnfinished, "文件异常关闭"},  {kVerdictTimedOut, "接收超时"},
};

QString VerdictText(const std::string &code) {
    for (const auto &[c, text] : kVerdictTexts)
        if (code == c) return text;
    return QString::fromStdString(code);
}

QString TimeText(int64_t seconds) { return QString::fromStdString(LocalTimeText(LocalFromEpoch(seconds))); }

}  // namespace

ReceptionsDialog::ReceptionsDialog(Core &core, uint8_t station, QWidget *parent)
    : QDialog(parent), core_(core), station_(station) {
    setObjectName("receptionsDialog");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString("站点 %1 接收记录").arg(station, 3, 10, QChar('0')));
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("receptionsTree");
    tree_->setColumnCount(kColumns);
    tree_->setHeaderLabels({"开始", "结束", "大小", "通告大小", "结果", "文件"});
    tree_->setRootIsDecorated(false);
    tree_->header()->setSectionResizeMode(kFile, QHeaderView::Stretch);
    tree_->setMinimumSize(720, 300);
    status_ = new QLabel(this);
    status_->setObjectName("receptionsStatus");
    auto *reload = new QPushButton("刷新", this);
    auto *close = new QPushButton("关闭", this);
    for (QPushButton *b : {reload, close}) b->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(reload);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    connect(reload, &QPushButton::clicked, this, &ReceptionsDialog::Reload);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    Reload();
}

void ReceptionsDialog::Reload() {
    tree_->clear();
    std::vector<StoredReception> receptions;
    try {
        receptions = HistoryReader(core_.output.Path() / kHistoryFileName).Receptions(kFromTheStart, station_);
    } catch (const DatabaseError &) {
        // No store yet: nothing received.
    }
    for (const StoredReception &r : receptions) {
        auto *item = new QTreeWidgetItem(tree_);
        item->setText(kStart, TimeText(r.start));
        item->setText(kEnd, TimeText(r.end));
        item->setText(kSize, QString::number(r.size));
        if (r.announcedSize) item->setText(kAnnounced, QString::number(*r.announcedSize));
        item->setText(kVerdict, VerdictText(r.verdict));
        if (r.verdict != kVerdictReceived && r.verdict != kVerdictUnannounced)
            item->setForeground(kVerdict, QBrush(Qt::red));
        item->setText(kFile, QString::fromStdString(r.path));
    }
    for (int c = 0; c < kColumns; ++c)
        if (c != kFile) tree_->resizeColumnToContents(c);
    status_->setText(QString("%1 个文件").arg(receptions.size()));
}

}  // namespace meradon::ui
