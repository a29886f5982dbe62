// A station's link quality over time: the four values of its signal packets as lines,
// with the last, minimum, mean and maximum of each over the chosen span, redrawn while
// the window is open. The last 10 minutes, hour or day come from this run's samples; the
// last 7 or 30 days from the history store, thinned to what the plot can show.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointF>
#include <array>
#include <cstdint>

#include "manager/core/core.h"

class QComboBox;
class QLabel;
class QLineSeries;
class QDateTimeAxis;
class QTimer;

namespace meradon::ui {

class QualityPlot : public QDialog {
    Q_OBJECT
public:
    // `core` outlives the plot (the window owns both).
    QualityPlot(Core &core, uint8_t station, QWidget *parent = nullptr);

    uint8_t Station() const { return station_; }
    // Redraws from the station's samples (also every second while open; a span of the
    // history store every half minute).
    void Redraw();

private:
    struct Figures;
    void DrawRecent(int64_t spanMs);
    void DrawFromStore(int64_t spanSeconds);
    void Show(const std::array<QList<QPointF>, 4> &points, qint64 fromMs, qint64 toMs, const Figures &figures);

    Core &core_;
    const uint8_t station_;
    QComboBox *span_;
    std::array<QLineSeries *, 4> series_{};
    QDateTimeAxis *timeAxis_;
    // Last, minimum, mean and maximum of each value.
    std::array<std::array<QLabel *, 4>, 4> figures_{};
    QLabel *count_;
    QTimer *timer_;
    int shownSpan_ = -1;
    qint64 storeDrawnAtMs_ = 0;  // when a span of the store was last read
};

}  // namespace meradon::ui
