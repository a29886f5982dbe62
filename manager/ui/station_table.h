// The station list: one row per station 1-255 with a check box, the eight columns of the
// station's state, counters and link quality, grid lines and whole-row selection.
#pragma once

#include <QTableWidget>
#include <cstdint>
#include <vector>

namespace meradon::ui {

class StationTable : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int kRows = 255;

    explicit StationTable(QWidget *parent = nullptr);

    void SetCell(int row, int column, const QString &text);
    // Scrolls the row into view and selects it.
    void SelectStationRow(int row);

    bool IsRowChecked(int row) const;
    void SetRowChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    // Station numbers (row + 1) of the checked rows, ascending.
    std::vector<uint8_t> CheckedStations() const;
};

}  // namespace meradon::ui
