// A station's link quality over time: the four values of its signal packets as lines,
// with the last, minimum, mean and maximum of each over the chosen span (the last 10
// minutes, hour or day), redrawn while the window is open.
#pragma once

#include <QDialog>
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
    // Redraws from the station's history (also every second while open).
    void Redraw();

private:
    Core &core_;
    const uint8_t station_;
    QComboBox *span_;
    std::array<QLineSeries *, 4> series_{};
    QDateTimeAxis *timeAxis_;
    // Last, minimum, mean and maximum of each value.
    std::array<std::array<QLabel *, 4>, 4> figures_{};
    QLabel *count_;
    QTimer *timer_;
};

}  // namespace meradon::ui
