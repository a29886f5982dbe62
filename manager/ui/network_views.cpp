#include "manager/ui/network_views.h"

#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>

#include "manager/ui/quality_plot.h"
#include "manager/ui/receptions_dialog.h"
#include "manager/ui/sendings_dialog.h"
#include "manager/ui/station_table.h"

namespace meradon::ui {

namespace {

template <typename Dialog>
Dialog *Raise(Dialog *dialog) {
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

}  // namespace

NetworkViews::NetworkViews(QMainWindow *window, Manager &manager, StationTable *stations)
    : QObject(window), window_(window), manager_(manager) {
    auto *results = new QPushButton("发送结果", window);
    results->setObjectName("sendingsButton");
    results->setAutoDefault(false);
    window->statusBar()->addPermanentWidget(results);
    connect(results, &QPushButton::clicked, this, &NetworkViews::ShowSendings);

    connect(stations, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { ShowQuality(static_cast<uint8_t>(row + 1)); });
    stations->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(stations, &QWidget::customContextMenuRequested, this, [this, stations](const QPoint &at) {
        const int row = stations->rowAt(at.y());
        if (row < 0 || row + 1 > kLastQualityStation) return;
        QMenu menu(stations);
        menu.addAction(QString("站点 %1 链路质量曲线...").arg(row + 1, 3, 10, QChar('0')), this,
                       [this, row] { ShowQuality(static_cast<uint8_t>(row + 1)); });
        menu.addAction(QString("站点 %1 接收记录...").arg(row + 1, 3, 10, QChar('0')), this,
                       [this, row] { ShowReceptions(static_cast<uint8_t>(row + 1)); });
        menu.exec(stations->viewport()->mapToGlobal(at));
    });
}

SendingsDialog *NetworkViews::ShowSendings() {
    if (!sendings_) sendings_ = new SendingsDialog(manager_, window_);
    else sendings_->ShowNewest();
    return Raise(sendings_.data());
}

QualityPlot *NetworkViews::ShowQuality(uint8_t station) {
    if (station == 0 || station > kLastQualityStation) return nullptr;
    for (QualityPlot *open : window_->findChildren<QualityPlot *>())
        if (open->Station() == station) return Raise(open);
    return Raise(new QualityPlot(manager_.Context(), station, window_));
}

ReceptionsDialog *NetworkViews::ShowReceptions(uint8_t station) {
    if (station == 0 || station > kLastQualityStation) return nullptr;
    for (ReceptionsDialog *open : window_->findChildren<ReceptionsDialog *>())
        if (open->Station() == station) {
            open->Reload();
            return Raise(open);
        }
    return Raise(new ReceptionsDialog(manager_.Context(), station, window_));
}

}  // namespace meradon::ui
