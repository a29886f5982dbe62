// The manager core's view without a window: record lines go to the operation record and
// the log, a message box's text too (nobody is there to close it, so it is answered at
// once and the worker goes on), and commands are handed to the daemon's main loop.
#pragma once

#include <bitset>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "manager/core/app_state.h"
#include "manager/core/manager.h"
#include "manager/core/view.h"
#include "manager/daemon/daemon_settings.h"
#include "manager/daemon/wake_event.h"

namespace meradon::daemon {

// A command for the main loop, and whether the worker waits for its answer.
struct LoopCommand {
    int command = 0;
    bool answer = false;
};

class DaemonView final : public MeradonView {
public:
    explicit DaemonView(const DaemonSettings &settings) : settings_(settings) {}

    // The manager answers the worker's requests; set before the manager starts.
    void Attach(Manager &manager) { manager_ = &manager; }
    // The main loop sleeps on this descriptor; it is readable when something was posted.
    int WakeDescriptor() const { return wake_.Descriptor(); }
    // Main loop: what was posted since the last call.
    std::vector<LoopCommand> TakeCommands();
    // Main loop: the station rows (0-253) whose cells changed since the last call.
    std::vector<int> TakeChangedRows();
    // Main loop: the files received since the last call, in order.
    std::vector<ReceptionFact> TakeReceivedFiles();
    void Wake() { wake_.Wake(); }

    void AddRecordLine(const std::string &text, LineStyle style) override;
    void SetControlText(ControlId, const std::string &) override {}
    void SetProgress(ControlId, int) override {}
    void EnableControl(ControlId, bool) override {}
    void FocusControl(ControlId) override {}
    void EnableSendSetup(bool) override {}
    void SetStationCell(int row, int column, const std::string &text) override;
    void SelectStationRow(int) override {}
    void PostCommand(int command) override;
    void QueuesFilled() override { Wake(); }
    void RequestCommand(int command) override;
    void RequestMessageBox(const std::string &text) override;
    void ShowTrayBalloon(const std::string &text) override;
    void ShowLinkPicture(uint8_t) override {}
    bool IsChecked(ControlId box) override;
    std::string LinkSelectorText() override { return settings_.LinkText(); }
    void SaveRecords(bool quiet) override;
    void FileReceived(const ReceptionFact &file) override;

private:
    const DaemonSettings &settings_;
    Manager *manager_ = nullptr;
    WakeEvent wake_;
    std::mutex mutex_;
    std::deque<LoopCommand> commands_;
    std::bitset<kStations> changedRows_;
    std::vector<ReceptionFact> received_;
};

}  // namespace meradon::daemon
