// A main window that shows nothing, for driving the manager core from fuzz input. It only
// holds the core to its promise about the station list: rows 0-254, columns 0-7.
#pragma once

#include <cstdlib>
#include <string>

#include "manager/core/app_state.h"
#include "manager/core/view.h"

namespace fuzz {

class NullView final : public meradon::MeradonView {
public:
    // The link selector text names the trace files; a device path, as a serial link has.
    std::string selector = "/dev/pts/fuzz";
    bool traceOutput = false;  // the check box "输出运行信息"

    void AddRecordLine(const std::string &, meradon::LineStyle) override {}
    void SetControlText(meradon::ControlId, const std::string &) override {}
    void SetProgress(meradon::ControlId, int) override {}
    void EnableControl(meradon::ControlId, bool) override {}
    void FocusControl(meradon::ControlId) override {}
    void EnableSendSetup(bool) override {}
    void SetStationCell(int row, int column, const std::string &) override {
        CheckRow(row);
        if (column < meradon::kColumnStation || column > meradon::kColumnOwnQuality) std::abort();
    }
    void SelectStationRow(int row) override { CheckRow(row); }
    void PostCommand(int) override {}
    void RequestCommand(int) override {}
    void RequestMessageBox(const std::string &) override {}
    void ShowTrayBalloon(const std::string &) override {}
    void ShowLinkPicture(uint8_t) override {}
    bool IsChecked(meradon::ControlId box) override {
        return box == meradon::ControlId::TraceOutput && traceOutput;
    }
    std::string LinkSelectorText() override { return selector; }
    void SaveRecords(bool) override {}

private:
    static void CheckRow(int row) {
        if (row < 0 || row >= meradon::kStations) std::abort();
    }
};

}  // namespace fuzz
