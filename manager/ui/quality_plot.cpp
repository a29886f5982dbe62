#include "manager/ui/quality_plot.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QLabel>
#include <QLineSeries>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>

#include "manager/core/history/history_reader.h"
#include "manager/core/history/history_store.h"

namespace meradon::ui {

namespace {

struct Span {
    const char *label;
    int64_t ms;
    bool fromStore;  // read from the history store rather than this run's samples
};
constexpr int64_t kDayMs = 24 * 3600 * 1000LL;
const Span kSpans[] = {{"最近 10 分钟", 10 * 60 * 1000LL, false},
                       {"最近 1 小时", 3600 * 1000LL, false},
                       {"最近 1 天", kDayMs, false},
                       {"最近 7 天", 7 * kDayMs, true},
                       {"最近 30 天", 30 * kDayMs, true}};

// Chart names of the four values, in the order of the signal payload.
const char *const kValueLabels[4] = {"对端链路质量", "本机链路质量", "对端信号强度", "本机信号强度"};

constexpr int kRedrawMs = 1000;
// Days of samples change little in half a minute; the store is not read more often.
constexpr qint64 kStoreRedrawMs = 30 * 1000;
// About one point for each pixel of the plot's width.
constexpr int kMinPlotPoints = 200;

}  // namespace

QualityPlot::QualityPlot(Core &core, uint8_t station, QWidget *parent)
    : QDialog(parent), core_(core), station_(station) {
    setObjectName("qualityPlot");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString("站点 %1 链路质量").arg(station, 3, 10, QChar('0')));

    auto *chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    timeAxis_ = new QDateTimeAxis(chart);
    timeAxis_->setFormat("hh:mm:ss");
    auto *valueAxis = new QValueAxis(chart);
    valueAxis->setRange(0, 255);
    valueAxis->setTickCount(6);
    valueAxis->setLabelFormat("%d");
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);
    for (int i = 0; i < 4; ++i) {
        series_[i] = new QLineSeries(chart);
        series_[i]->setName(kValueLabels[i]);
        chart->addSeries(series_[i]);
        series_[i]->attachAxis(timeAxis_);
        series_[i]->attachAxis(valueAxis);
    }
    auto *view = new QChartView(chart, this);
    view->setObjectName("qualityChart");
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(640, 360);

    span_ = new QComboBox(this);
    span_->setObjectName("qualitySpan");
    for (const Span &s : kSpans) span_->addItem(s.label);
    count_ = new QLabel(this);
    count_->setObjectName("qualityCount");

    auto *figures = new QGridLayout;
    const char *const headers[] = {"", "最新", "最小", "平均", "最大"};
    for (int c = 0; c < 5; ++c) figures->addWidget(new QLabel(headers[c], this), 0, c);
    for (int i = 0; i < 4; ++i) {
        figures->addWidget(new QLabel(kValueLabels[i], this), i + 1, 0);
        for (int f = 0; f < 4; ++f) {
            figures_[i][f] = new QLabel(this);
            figures_[i][f]->setObjectName(QString("qualityFigure%1%2").arg(i).arg(f));
            figures->addWidget(figures_[i][f], i + 1, f + 1);
        }
    }

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel("时段:", this));
    top->addWidget(span_);
    top->addStretch(1);
    top->addWidget(count_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(view, 1);
    layout->addLayout(figures);
    // In command set mode the window's commands take the link, and what they take in
    // besides their replies is dropped: no signal packet reaches the history then.
    auto *coverage = new QLabel("只记录数据传输模式和网络搜索中收到的信号包, 命令设置模式下不记录", this);
    coverage->setObjectName("qualityCoverage");
    layout->addWidget(coverage);

    connect(span_, &QComboBox::currentIndexChanged, this, &QualityPlot::Redraw);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &QualityPlot::Redraw);
    timer_->start(kRedrawMs);
    Redraw();
}

// What the figures below the plot show.
struct QualityPlot::Figures {
    int64_t count = 0;
    QualityValues last{}, min{}, max{};
    std::array<double, 4> mean{};
};

void QualityPlot::Redraw() {
    const int index = std::max(0, span_->currentIndex());
    const Span &span = kSpans[index];
    const bool spanChanged = index != shownSpan_;
    shownSpan_ = index;
    if (!span.fromStore) return DrawRecent(span.ms);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!spanChanged && now - storeDrawnAtMs_ < kStoreRedrawMs) return;
    storeDrawnAtMs_ = now;
    DrawFromStore(span.ms / 1000);
}

void QualityPlot::DrawRecent(int64_t spanMs) {
    const int64_t nowMs = core_.Now();
    // Samples carry the core's monotonic time; the axis shows wall-clock time.
    const qint64 wallNow = QDateTime::currentMSecsSinceEpoch();
    const std::vector<QualitySample> samples = core_.quality.Since(station_, nowMs - spanMs);
    QualityStats stats;
    std::array<QList<QPointF>, 4> points;
    for (const QualitySample &s : samples) {
        stats.Add(s.values);
        const double x = static_cast<double>(wallNow - (nowMs - s.timeMs));
        for (int i = 0; i < 4; ++i) points[i].append(QPointF(x, s.values[i]));
    }
    Figures figures;
    figures.count = static_cast<int64_t>(stats.Count());
    for (int i = 0; i < 4; ++i) {
        figures.last[i] = stats.Last(i);
        figures.min[i] = stats.Min(i);
        figures.mean[i] = stats.Mean(i);
        figures.max[i] = stats.Max(i);
    }
    // A history shorter than the span fills the plot rather than a sliver at its end.
    const int64_t shownMs = samples.size() > 1 ? std::min(spanMs, nowMs - samples.front().timeMs) : spanMs;
    Show(points, wallNow - std::max<int64_t>(shownMs, 1000), wallNow, figures);
}

void QualityPlot::DrawFromStore(int64_t spanSeconds) {
    const int64_t now = EpochSeconds(core_.clock.Local());
    std::array<QList<QPointF>, 4> points;
    Figures figures;
    try {
        HistoryReader store(core_.output.Path() / kHistoryFileName);
        const int width = std::max(kMinPlotPoints, findChild<QWidget *>("qualityChart")->width());
        for (const StoredQuality &q : store.ThinnedQuality(station_, now - spanSeconds, kUntilNow, width))
            for (int i = 0; i < 4; ++i) points[i].append(QPointF(static_cast<double>(q.time) * 1000, q.values[i]));
        const StoredQualityFigures stored = store.QualityFigures(station_, now - spanSeconds, kUntilNow);
        figures = {stored.count, stored.last.values, stored.min, stored.max, stored.mean};
    } catch (const DatabaseError &) {
        // No store yet (or none readable): an empty plot, as for a station that never reported.
    }
    const qint64 from = points[0].isEmpty() ? (now - spanSeconds) * 1000 : static_cast<qint64>(points[0].front().x());
    Show(points, from, now * 1000, figures);
}

void QualityPlot::Show(const std::array<QList<QPointF>, 4> &points, qint64 fromMs, qint64 toMs,
                       const Figures &figures) {
    for (int i = 0; i < 4; ++i) series_[i]->replace(points[i]);
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
    timeAxis_->setFormat(toMs - fromMs > 3600 * 1000LL ? "MM-dd hh:mm" : "hh:mm:ss");
    count_->setText(QString("%1 个信号包").arg(figures.count));
    for (int i = 0; i < 4; ++i) {
        const QString texts[4] = {QString::number(figures.last[i]), QString::number(figures.min[i]),
                                  QString::number(figures.mean[i], 'f', 1), QString::number(figures.max[i])};
        for (int f = 0; f < 4; ++f) figures_[i][f]->setText(figures.count ? texts[f] : QString("N/A"));
    }
}

}  // namespace meradon::ui
