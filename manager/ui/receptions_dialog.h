// The files one station has sent to this PC, newest first, from the history store: when,
// how big (and how big it was announced), the verdict, and where the file is. Opened from
// the station's row in the station list.
#pragma once

#include <QDialog>
#include <cstdint>

#include "manager/core/core.h"

class QLabel;
class QTreeWidget;

namespace meradon::ui {

class ReceptionsDialog : public QDialog {
    Q_OBJECT
public:
    // `core` outlives the dialog (the window owns both).
    ReceptionsDialog(Core &core, uint8_t station, QWidget *parent = nullptr);

    uint8_t Station() const { return station_; }
    // Reads the store again.
    void Reload();

private:
    Core &core_;
    const uint8_t station_;
    QTreeWidget *tree_;
    QLabel *status_;
};

}  // namespace meradon::ui
