// The buttons under the station list: check all, take stations in ("添加") or out
// ("删除") of the network, zero their counters, read the list again from the host node,
// and search the network.
#pragma once

#include <QWidget>

#include "manager/core/manager.h"

class QPushButton;

namespace meradon::ui {

class StationTable;

class StationButtons : public QWidget {
    Q_OBJECT
public:
    StationButtons(Manager &manager, StationTable *stations, QWidget *parent);

    // The buttons that send commands to the host node.
    void EnableCommands(bool on);
    // The buttons that only change the list.
    void EnableListEdits(bool on);
    // "刷新": the status of every station read again, no row checked.
    void Refresh();

signals:
    // The list is about to be changed by hand: what the core changed must be shown first.
    void aboutToEditList();
    // The host node took the search: the modes are off until it ends.
    void searchStarted();

private:
    void ActivateStations(bool active);
    void ZeroStations();
    void SearchNetwork();

    Manager &manager_;
    StationTable *const stations_;
    QPushButton *checkAllButton_, *activateButton_, *suspendButton_, *zeroButton_;
    QPushButton *refreshButton_, *searchButton_;
};

}  // namespace meradon::ui
