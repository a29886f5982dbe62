// What the manager core does to the main window, as one interface. The window implements
// it later; tests implement it as a recorder.
//
// All texts handed to the view are UTF-8. The window shows them as Unicode; files that
// are kept in GBK (the saved operation record) are converted by the core when it writes
// them.
//
// Threads: the core calls every method from the worker thread as well as from the window
// thread. An implementation forwards to the window thread (queued, never blocking the
// caller, so a window thread that is joining the worker cannot dead-lock), and answers
// IsChecked and LinkSelectorText from copies it keeps up to date under its own lock.
#pragma once

#include <cstdint>
#include <string>

#include "manager/core/history/history_facts.h"

namespace meradon {

// Controls of the main window that the core refers to, by their dialog ids.
enum class ControlId : int {
    Send = 112,
    Cancel = 115,
    TransferProgress = 1052,  // progress bar: share of the file handed to the link
    TransferText = 1053,      // "done/size bytes"
    BufferProgress = 1054,    // progress bar: the host node's send buffer in use
    LoopSending = 1056,       // check box "循环传送"
    CommandMode = 1060,       // radio button "命令设置模式"
    DataMode = 1061,          // radio button "数据传输模式"
    TraceOutput = 1065,       // check box "输出运行信息"
    ElapsedClock = 1080,      // time since the sending started
    AutoSave = 1094,          // check box "自动保存"
    Retransmission = 1096,    // check box "支持数据重传"
};

// Commands the core posts or sends to the window.
constexpr int CMD_REFRESH = 108;        // the Refresh button: read node status, redraw list
constexpr int CMD_TRANSFER_END = 800;   // a sending has ended: close the file, re-enable
constexpr int CMD_LINK_LOST = 801;      // the link ended by itself: close it as "关闭" does
// The whole file is handed to the link: close it. The sending goes on to its report, and
// "传送" waits for CMD_TRANSFER_END: a sending armed before would lose that report and
// find the host node still connected to the receiver.
constexpr int CMD_FILE_SENT = 802;

enum class LineStyle {
    Stamped,   // "[hh:mm:ss] " in front
    Indented,  // six spaces in front
};

// Station list columns.
enum StationColumn : int {
    kColumnStation = 0,
    kColumnActive = 1,
    kColumnOnline = 2,
    kColumnLink = 3,
    kColumnSuspended = 4,
    kColumnData = 5,
    kColumnPeerQuality = 6,
    kColumnOwnQuality = 7,
};

class MeradonView {
public:
    virtual ~MeradonView() = default;

    // Appends a line to the operation record and scrolls to it; the line is kept by the
    // core's record (Manager::KeepRecordLine) and shown as kept.
    virtual void AddRecordLine(const std::string &text, LineStyle style) = 0;
    // Text of a plain control (TransferText, ElapsedClock).
    virtual void SetControlText(ControlId control, const std::string &text) = 0;
    // Position 0-100 of a progress bar (TransferProgress, BufferProgress).
    virtual void SetProgress(ControlId bar, int position) = 0;
    virtual void EnableControl(ControlId control, bool enabled) = 0;
    virtual void FocusControl(ControlId control) = 0;
    // The mode radio buttons and the file choice, which must not change during a sending.
    virtual void EnableSendSetup(bool enabled) = 0;

    // Station list: row r (0-254) is station r + 1. The core never passes another row.
    virtual void SetStationCell(int row, int column, const std::string &text) = 0;
    // Scrolls the row into view and selects it.
    virtual void SelectStationRow(int row) = 0;

    // Queues a command for the window thread and returns at once.
    virtual void PostCommand(int command) = 0;
    // Called on the worker thread after it queued packets or status reports for the
    // window: the window takes them in (Manager::PumpQueues) soon after, once however
    // many calls came meanwhile. A view that pumps on a timer of its own may ignore it.
    virtual void QueuesFilled() {}
    // Asks the window to run a command; the window calls Manager::CommandFinished when it
    // has. The core waits for that (or for shutdown) itself.
    virtual void RequestCommand(int command) = 0;
    // Asks the window to show a message box (caption "Meradon", warning icon) without
    // waiting for it; the window calls Manager::MessageBoxClosed with the text when the
    // operator closes it. A view with nobody to close boxes (unattended) need not.
    virtual void RequestMessageBox(const std::string &text) = 0;

    // Balloon text of the tray icon; an empty text shows no balloon.
    virtual void ShowTrayBalloon(const std::string &text) = 0;
    // Picture of the link state (0xFF = idle picture).
    virtual void ShowLinkPicture(uint8_t code) = 0;

    // State of a check box (TraceOutput, AutoSave, LoopSending, Retransmission).
    virtual bool IsChecked(ControlId box) = 0;
    // The serial port name when the serial interface is chosen, else the address text.
    virtual std::string LinkSelectorText() = 0;
    // Saves the operation record (Manager::SaveRecord); quiet = no message box
    // afterwards. The core asks for it every hour while AutoSave is checked.
    virtual void SaveRecords(bool quiet) = 0;
    // A received file has ended, with its verdict. The window shows it in the record
    // alone; the unattended manager publishes it.
    virtual void FileReceived(const ReceptionFact &) {}
};

}  // namespace meradon
