// The latest values of the window's fast-changing controls: station list cells, the
// selected station row, the progress bars and the transfer texts. A station flooding the
// link changes them a thousand times a second; the window shows only what is current
// each time it redraws, a few dozen times a second, rather than laying out and painting
// every change. Any thread may record; the window thread takes.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "manager/core/view.h"

namespace meradon {

class PendingRedraw {
public:
    struct Changes {
        std::map<std::pair<int, int>, std::string> cells;  // (row, column) -> text
        int selectedRow = -1;                               // -1: no row to select
        std::map<ControlId, int> bars;
        std::map<ControlId, std::string> texts;
    };

    // Each returns true for the first change since the last Take: the caller then
    // arranges one redraw, however many changes follow before it.
    bool SetCell(int row, int column, const std::string &text);
    bool SelectRow(int row);
    bool SetProgress(ControlId bar, int position);
    bool SetText(ControlId control, const std::string &text);

    // The changes recorded since the last Take, each control's latest only.
    Changes Take();

private:
    template <typename Record>
    bool Change(Record record);

    std::mutex mutex_;
    Changes changes_;
    bool pending_ = false;
};

}  // namespace meradon
