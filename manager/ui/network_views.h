// The operator's views of the network beside the main window's own layout: the results
// of the sendings (a button in the status bar) and the link-quality plot of a station
// (double-click on its row, or its context menu). Owned by the main window.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>

#include "manager/core/manager.h"

class QMainWindow;

namespace meradon::ui {

class QualityPlot;
class SendingsDialog;
class StationTable;

class NetworkViews : public QObject {
    Q_OBJECT
public:
    NetworkViews(QMainWindow *window, Manager &manager, StationTable *stations);

    // Shows the results view (one for the window), raised when already open.
    SendingsDialog *ShowSendings();
    // Shows the quality plot of `station` (one per station), raised when already open.
    QualityPlot *ShowQuality(uint8_t station);

private:
    QMainWindow *const window_;
    Manager &manager_;
    QPointer<SendingsDialog> sendings_;
};

}  // namespace meradon::ui
