#include "manager/ui/station_buttons.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <vector>

#include "manager/ui/controls.h"
#include "manager/ui/station_table.h"
#include "tevrolink/tevrolink.h"

namespace meradon::ui {

StationButtons::StationButtons(Manager &manager, StationTable *stations, QWidget *parent)
    : QWidget(parent), manager_(manager), stations_(stations) {
    auto *listBar = new QHBoxLayout(this);
    listBar->setContentsMargins(0, 0, 0, 0);
    checkAllButton_ = Button("全选", "checkAllButton", this);
    activateButton_ = Button("添加", "activateButton", this);
    suspendButton_ = Button("删除", "suspendButton", this);
    zeroButton_ = Button("清零", "zeroButton", this);
    refreshButton_ = Button("刷新", "refreshButton", this);
    searchButton_ = Button("搜索", "searchButton", this);
    for (QPushButton *b : {checkAllButton_, activateButton_, suspendButton_, zeroButton_,
                           refreshButton_, searchButton_})
        listBar->addWidget(b);

    connect(checkAllButton_, &QPushButton::clicked, this, [this] { stations_->SetAllChecked(true); });
    connect(activateButton_, &QPushButton::clicked, this, [this] { ActivateStations(true); });
    connect(suspendButton_, &QPushButton::clicked, this, [this] { ActivateStations(false); });
    connect(zeroButton_, &QPushButton::clicked, this, &StationButtons::ZeroStations);
    connect(refreshButton_, &QPushButton::clicked, this, &StationButtons::Refresh);
    connect(searchButton_, &QPushButton::clicked, this, &StationButtons::SearchNetwork);
}

void StationButtons::EnableCommands(bool on) {
    SetEnabled({activateButton_, suspendButton_, refreshButton_, searchButton_}, on);
}

void StationButtons::EnableListEdits(bool on) { SetEnabled({checkAllButton_, zeroButton_}, on); }

void StationButtons::Refresh() {
    stations_->SetAllChecked(false);
    manager_.RefreshFromHost();
}

void StationButtons::ActivateStations(bool active) {
    const std::vector<uint8_t> stations = stations_->CheckedStations();
    // Suspending goes out also with no station checked: an empty set for the host node.
    if (active && stations.empty()) return;
    const int count = static_cast<int>(stations.size());
    const int ok = active ? SetNodeActive(stations.data(), count) : SetNodeInactive(stations.data(), count);
    if (ok != 1) return;
    manager_.State().listPrimed.store(0);  // redraw without selecting: the operator did it
    Refresh();
}

void StationButtons::ZeroStations() {
    emit aboutToEditList();
    AppState &state = manager_.State();
    for (int row = 0; row < StationTable::kRows; ++row) {
        if (!stations_->IsRowChecked(row)) continue;
        stations_->SetRowChecked(row, false);
        state.rxBytes[row + 1] = 0;
        stations_->SetCell(row, kColumnData, "0");
        stations_->SetCell(row, kColumnPeerQuality, "N/A");
        stations_->SetCell(row, kColumnOwnQuality, "N/A");
    }
}

void StationButtons::SearchNetwork() {
    if (!manager_.StartNetworkSearch()) return;
    emit searchStarted();
}

}  // namespace meradon::ui
