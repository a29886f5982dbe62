// The operator's views of the network beside the main window's own layout: the results
// of the sendings (a button in the status bar), the link-quality plot of a station
// (double-click on its row, or its context menu) and the files it sent (its context
// menu). Owned by the main window.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>

#include "manager/core/manager.h"

class QMainWindow;

namespace meradon::ui {

class QualityPlot;
class ReceptionsDialog;
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
    // Shows the files `station` sent, from the history store (one per station, read again
    // when shown again).
    ReceptionsDialog *ShowReceptions(uint8_t station);

private:
    QMainWindow *const window_;
    Manager &manager_;
    QPointer<SendingsDialog> sendings_;
};

}  // namespace meradon::ui
