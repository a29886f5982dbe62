#include "manager/ui/station_table.h"

#include <QHeaderView>
#include <QStyle>

namespace meradon::ui {

namespace {

struct Column {
    const char *header;
    int width;  // pixels at 96 dpi
    const char *initial;
};

const Column kColumns[] = {
    {"站点", 45, nullptr}, {"活动", 45, "N/A"}, {"联机", 45, "N/A"}, {"链路", 45, "N/A"},
    {"挂起", 45, "N/A"},   {"数据", 52, "0"},   {"对端", 50, "N/A"}, {"本机", 50, "N/A"},
};

QTableWidgetItem *CenteredItem(const QString &text) {
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

StationTable::StationTable(QWidget *parent) : QTableWidget(kRows, std::size(kColumns), parent) {
    setObjectName("stationList");
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);

    // Widths follow the font, so that a larger font or a high-dpi screen keeps the texts;
    // the station column also holds the check box. A wider list shares out the room.
    const double scale = std::max(1.0, fontMetrics().averageCharWidth() / 6.0);
    const int checkBox = style()->pixelMetric(QStyle::PM_IndicatorWidth) + 8;
    QStringList headers;
    int total = 0;
    for (int c = 0; c < columnCount(); ++c) {
        headers << QString::fromUtf8(kColumns[c].header);
        const int width = static_cast<int>(kColumns[c].width * scale) + (c == 0 ? checkBox : 0);
        setColumnWidth(c, width);
        total += width;
    }
    setHorizontalHeaderLabels(headers);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    setMinimumWidth(total + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * frameWidth());
    for (int i = 0; i < columnCount(); ++i)
        horizontalHeaderItem(i)->setTextAlignment(Qt::AlignCenter);

    for (int row = 0; row < kRows; ++row) {
        auto *station = CenteredItem(QString::asprintf("%03d", row + 1));
        station->setFlags(station->flags() | Qt::ItemIsUserCheckable);
        station->setCheckState(Qt::Unchecked);
        setItem(row, 0, station);
        for (int c = 1; c < columnCount(); ++c)
            setItem(row, c, CenteredItem(QString::fromUtf8(kColumns[c].initial)));
    }
}

void StationTable::SetCell(int row, int column, const QString &text) {
    if (row < 0 || row >= kRows || column < 0 || column >= columnCount()) return;
    item(row, column)->setText(text);
}

void StationTable::SelectStationRow(int row) {
    if (row < 0 || row >= kRows) return;
    scrollToItem(item(row, 0));
    selectRow(row);
}

bool StationTable::IsRowChecked(int row) const {
    return row >= 0 && row < kRows && item(row, 0)->checkState() != Qt::Unchecked;
}

void StationTable::SetRowChecked(int row, bool checked) {
    if (row < 0 || row >= kRows) return;
    item(row, 0)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void StationTable::SetAllChecked(bool checked) {
    for (int row = 0; row < kRows; ++row) SetRowChecked(row, checked);
}

std::vector<uint8_t> StationTable::CheckedStations() const {
    std::vector<uint8_t> stations;
    for (int row = 0; row < kRows; ++row)
        if (IsRowChecked(row)) stations.push_back(static_cast<uint8_t>(row + 1));
    return stations;
}

}  // namespace meradon::ui
