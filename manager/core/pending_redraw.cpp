#include "manager/core/pending_redraw.h"

namespace meradon {

template <typename Record>
bool PendingRedraw::Change(Record record) {
    std::lock_guard<std::mutex> lock(mutex_);
    record(changes_);
    const bool first = !pending_;
    pending_ = true;
    return first;
}

bool PendingRedraw::SetCell(int row, int column, const std::string &text) {
    return Change([&](Changes &c) { c.cells[{row, column}] = text; });
}

bool PendingRedraw::SelectRow(int row) {
    return Change([&](Changes &c) { c.selectedRow = row; });
}

bool PendingRedraw::SetProgress(ControlId bar, int position) {
    return Change([&](Changes &c) { c.bars[bar] = position; });
}

bool PendingRedraw::SetText(ControlId control, const std::string &text) {
    return Change([&](Changes &c) { c.texts[control] = text; });
}

PendingRedraw::Changes PendingRedraw::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = false;
    return std::exchange(changes_, Changes{});
}

}  // namespace meradon
