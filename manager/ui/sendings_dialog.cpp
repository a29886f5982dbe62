#include "manager/ui/sendings_dialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "manager/core/history/history_reader.h"
#include "manager/core/history/history_store.h"
#include "manager/core/send_report.h"


namespace meradon::ui {

namespace {

constexpr int kRedrawMs = 500;
// The store's sendings change only as sendings start and end; read it no more often.
constexpr qint64 kStoreReadMs = 3000;
enum SpanIndex { kThisRun, kToday, kLastWeek, kAll };
enum Column { kSending, kFile, kSize, kStart, kDuration, kMode, kRepeats, kColumns };
constexpr int kIdRole = Qt::UserRole;
const QString kLoopRefusal = "已勾选“循环传送”: 重发会不停地循环,请先取消勾选";

QString StartText(const LocalTime &t) {
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

QString DurationOf(const SendingRecord &r) {
    if (!r.Ended()) return "进行中";
    return QString::fromStdString(DurationText(WholeSeconds(r.durationMs)));
}

// Changes whenever anything shown changes, so an unchanged list is not rebuilt (which
// would lose the selection and the scroll position).
std::size_t Signature(const std::vector<SendingRecord> &records) {
    std::size_t h = records.size();
    for (const SendingRecord &r : records) {
        h = (h * 31 + static_cast<std::size_t>(r.id)) * 31 + std::hash<int64_t>{}(r.durationMs);
        for (const StationResult &s : r.stations) h = h * 31 + s.station * 8u + static_cast<unsigned>(s.outcome);
    }
    return h;
}

}  // namespace

SendingsDialog::SendingsDialog(Manager &manager, QWidget *parent) : QDialog(parent), manager_(manager) {
    setObjectName("sendingsDialog");
    setWindowTitle("发送结果");
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("sendingsTree");
    tree_->setColumnCount(kColumns);
    tree_->setHeaderLabels({"序号", "文件 / 站点", "大小", "开始", "用时", "方式", "重发自"});
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->header()->setSectionResizeMode(kFile, QHeaderView::Stretch);
    tree_->setMinimumSize(720, 300);
    span_ = new QComboBox(this);
    span_->setObjectName("sendingsSpan");
    span_->addItems({"本次运行", "今天", "最近 7 天", "全部"});

    resendButton_ = new QPushButton("重发失败站点", this);
    resendButton_->setObjectName("resendButton");
    saveButton_ = new QPushButton("保存", this);
    saveButton_->setObjectName("saveSendingsButton");
    auto *close = new QPushButton("关闭", this);
    status_ = new QLabel(this);
    status_->setObjectName("sendingsStatus");
    for (QPushButton *b : {resendButton_, saveButton_, close}) b->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(resendButton_);
    buttons->addWidget(saveButton_);
    buttons->addWidget(close);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel("时段:", this));
    top->addWidget(span_);
    top->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);

    connect(resendButton_, &QPushButton::clicked, this, &SendingsDialog::ResendSelected);
    connect(saveButton_, &QPushButton::clicked, this, &SendingsDialog::Save);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &SendingsDialog::UpdateButtons);
    connect(span_, &QComboBox::currentIndexChanged, this, &SendingsDialog::Redraw);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &SendingsDialog::Redraw);
    timer_->start(kRedrawMs);
    ShowNewest();
}

void SendingsDialog::ShowNewest() {
    status_->clear();
    resendShown_ = false;
    Redraw();
    if (!tree_->topLevelItemCount()) return;
    QTreeWidgetItem *newest = tree_->topLevelItem(0);
    tree_->setCurrentItem(newest);
    tree_->scrollToItem(newest->childCount() ? newest->child(newest->childCount() - 1) : newest);
}

bool SendingsDialog::FromStore() const { return span_->currentIndex() > kThisRun; }

std::vector<SendingRecord> SendingsDialog::Records() {
    if (!FromStore()) {
        std::vector<SendingRecord> records = manager_.Context().sendings.Records();
        std::reverse(records.begin(), records.end());  // newest first, as the store lists them
        return records;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (span_->currentIndex() == storedSpan_ && now - storeReadAtMs_ < kStoreReadMs) return stored_;
    storedSpan_ = span_->currentIndex();
    storeReadAtMs_ = now;
    Core &core = manager_.Context();
    LocalTime dayStart = core.clock.Local();
    dayStart.hour = dayStart.minute = dayStart.second = 0;
    const int64_t since = storedSpan_ == kToday      ? EpochSeconds(dayStart)
                          : storedSpan_ == kLastWeek ? EpochSeconds(core.clock.Local()) - 7 * 24 * 3600
                                                     : kFromTheStart;
    stored_.clear();
    try {
        for (StoredSending &s : HistoryReader(core.output.Path() / kHistoryFileName).Sendings({since, 0, false}))
            stored_.push_back(std::move(s.record));
    } catch (const DatabaseError &) {
        // No store yet: nothing sent before.
    }
    return stored_;
}

void SendingsDialog::Redraw() {
    const std::vector<SendingRecord> records = Records();
    const std::size_t signature = Signature(records) * 4 + static_cast<std::size_t>(span_->currentIndex());
    if (signature != shownSignature_ || tree_->topLevelItemCount() != static_cast<int>(records.size())) {
        shownSignature_ = signature;
        const int selected = SelectedSending();
        tree_->clear();
        for (const SendingRecord &r : records) {
            auto *item = new QTreeWidgetItem(tree_);
            item->setData(kSending, kIdRole, r.id);
            item->setText(kSending, QString::number(r.id));
            item->setText(kFile, QString::fromStdString(std::filesystem::path(r.path).filename().string()));
            item->setToolTip(kFile, QString::fromStdString(r.path));
            item->setText(kSize, QString::number(r.size));
            item->setText(kStart, StartText(r.start));
            item->setText(kDuration, DurationOf(r));
            item->setText(kMode, ModeText(r.mode));
            // A repeat of an earlier run's sending names its row in the store.
            if (r.repeats) item->setText(kRepeats, QString::number(std::abs(r.repeats)));
            for (const StationResult &s : r.stations) {
                auto *child = new QTreeWidgetItem(item);
                child->setData(kSending, kIdRole, r.id);
                child->setText(kFile, QString("站点 %1: %2").arg(s.station).arg(OutcomeText(s.outcome)));
                if (s.outcome != StationOutcome::Succeeded && s.outcome != StationOutcome::Pending)
                    child->setForeground(kFile, QBrush(Qt::red));
            }
            item->setExpanded(true);
            if (r.id == selected) tree_->setCurrentItem(item);
        }
        if (!tree_->currentItem() && tree_->topLevelItemCount()) tree_->setCurrentItem(tree_->topLevelItem(0));
        for (int c = 0; c < kColumns; ++c)
            if (c != kFile) tree_->resizeColumnToContents(c);
    }
    if (resendShown_ && !manager_.Resending()) {
        resendShown_ = false;
        status_->clear();
    }
    UpdateButtons();
}

int SendingsDialog::SelectedSending() const {
    const QTreeWidgetItem *item = tree_->currentItem();
    return item ? item->data(kSending, kIdRole).toInt() : 0;
}

void SendingsDialog::UpdateButtons() {
    const int id = SelectedSending();
    const AppState &state = manager_.State();
    const bool idle = state.sendState.load() == IDLE && !state.sendFile.IsOpen() && !manager_.Resending();
    bool failed = false;
    if (!FromStore()) {
        failed = !manager_.Context().sendings.FailedStations(id).empty();
    } else if (idle && id) {
        try {
            failed = !HistoryReader(manager_.Context().output.Path() / kHistoryFileName).StillFailed(id).empty();
        } catch (const DatabaseError &) {
            // No store to read: nothing to offer.
        }
    }
    // Each resend would repeat without end: the operator is told why the button is off.
    const bool looping = state.loopSend.load() && failed;
    resendButton_->setEnabled(idle && !looping && state.linkMode.load() == LINK_DATA && failed);
    resendButton_->setToolTip(looping ? kLoopRefusal : QString());
    if (looping && status_->text().isEmpty()) status_->setText(kLoopRefusal);
    if (!looping && status_->text() == kLoopRefusal) status_->clear();
    saveButton_->setEnabled(tree_->topLevelItemCount() > 0);
}

void SendingsDialog::ResendSelected() {
    const int id = SelectedSending();
    switch (FromStore() ? manager_.ResendStored(id) : manager_.ResendFailed(id)) {
    case ResendResult::Started:
        status_->setText("正在重发...");
        resendShown_ = true;
        break;
    case ResendResult::CannotOpen: status_->setText("打开文件失败，请确认文件位置！"); break;
    case ResendResult::NothingFailed:
    case ResendResult::NotReady: break;  // the button is off in these cases
    }
    Redraw();
}

void SendingsDialog::Save() {
    Core &core = manager_.Context();
    const std::string name = SaveSendingsCsv(Records(), core.output, core.clock.Local());
    status_->setText(name.empty() ? QString("创建文件失败,请检查权限")
                                  : QString("已保存: %1").arg(QString::fromStdString(name)));
}

}  // namespace meradon::ui
