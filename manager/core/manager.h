// Meradon's headless core as the main window uses it: the state record, the worker
// thread, the window thread's step, and the operations of the window that own core resources.
//
// Texts that the core produces (record lines, control texts, balloons, message boxes) are
// UTF-8; the files that must hold GBK (the saved operation record) are converted here.
//
// Lifetime: the view and the clock must outlive the Manager. Destroying the Manager (or
// Stop) releases a worker that waits on a command of the window, then joins it, so the
// state is never freed under a running worker.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "manager/core/core.h"
#include "manager/core/worker.h"

namespace meradon {

enum class PrepareResult {
    Armed,        // the file is open and the sending starts
    NoPath,       // "请输入文件名！"
    CannotOpen,   // "打开文件失败，请确认文件位置！"
    EmptyFile,    // "文件长度为零,请重新选择文件"
    NotReady,     // the link is not open in data transfer mode: nothing is said
};

// What the operator is told when a sending does not start (the texts above); empty for
// Armed and NotReady.
const char *PrepareResultText(PrepareResult result);

// What one step of the window thread left to do.
struct WindowStep {
    bool queuedTook = false;  // entries were taken from the queues
    bool queuedLeft = false;  // entries were left in a queue: step again once the window is free
    int64_t dueInMs = 0;      // a time-out or a resend step is due after this long
};

enum class ResendResult {
    Started,        // the first failed station's sending is armed
    NothingFailed,  // no such ended sending, or every station of it succeeded
    NotReady,       // not in data transfer mode, a sending under way, or loop sending on
    CannotOpen,     // the file is gone or not the one sent (size, CRC-32): nothing reached the host node
};

class Manager {
public:
    Manager(MeradonView &view, Clock &clock, std::filesystem::path outputDir);
    ~Manager();
    Manager(const Manager &) = delete;
    Manager &operator=(const Manager &) = delete;

    // Window creation: stamps the start times, sets linkMode = 0xFF, asks for a higher
    // scheduling priority for the calling thread and the worker, starts the history
    // store (keeping quality samples and record lines `retentionDays`) and the worker.
    void Start(int retentionDays = kDefaultRetentionDays);
    // Exit: releases a waiting worker and joins it, then writes what the history store
    // still holds.
    void Stop();

    AppState &State() { return core_.state; }
    Core &Context() { return core_; }

    // Step of the window thread: the time-outs and the resend step that are due, then one
    // batch of what the worker queued. The window steps when the worker says it queued
    // something (MeradonView::QueuesFilled), again while entries are left, and when
    // dueInMs has passed.
    WindowStep PumpQueues();

    // Send button: opens `path` and arms the sending. `repeats` names the sending whose
    // failed stations this one repeats (0 for none); the sending is listed either way.
    PrepareResult PrepareSending(const std::string &path, int repeats = 0);
    // "传送" of a front end: arms the sending of the file at `path`, cut to the 254 bytes
    // a sending keeps of it, when the link is open in data transfer mode.
    PrepareResult StartSending(const std::string &path);
    // A link open in data transfer mode: the only one that carries a sending.
    bool InDataMode() const;
    // Cancel button: the sending is listed as cancelled; a resend stops.
    void SendingCancelled();
    // Resend to the failed: sending `id`'s file goes again to each station that did not get
    // it, as a single-station sending with the normal activation and report, one station
    // after the other (a broadcast would reach every active station). Each station is
    // taken back first, as "添加" does, and made the host node's peer; the peer the host
    // node had is restored when the last one has ended, and CMD_TRANSFER_END posted. The
    // window's step runs it; while it runs, a window keeps its sending controls off.
    ResendResult ResendFailed(int id);
    // The same for the history store's sending `row`, of this run or an earlier one: to
    // its stations that have not got the same file (by size and CRC-32) since.
    ResendResult ResendStored(int row);
    // A front end's sending to several stations: the file at `path` goes to each of
    // `stations` in turn, the same way as a resend (0 in the list: one broadcast sending,
    // to every active station). With loop sending checked, only one entry is allowed, as
    // its passes never end by themselves.
    ResendResult SendToStations(const std::string &path, const std::vector<uint8_t> &stations);
    bool Resending() const { return !resend_.file.path.empty(); }
    // Runs host-node commands from the window thread in command set mode, as the window's
    // own commands do, then gives the link back to the worker in data transfer mode.
    void InCommandSetMode(const std::function<void()> &commands);
    // CMD_TRANSFER_END and CMD_FILE_SENT: closes the file being sent.
    void FinishSending();
    // The core's part of opening the link, after the shell opened: the worker watches the
    // link from now on and reports its end (CMD_LINK_LOST).
    void LinkOpened();
    // The link's two modes, as "命令设置模式" and "数据传输模式" choose them: the host node is
    // told, and in data transfer mode the worker takes the link. False when the host node
    // did not answer; the link is then left without a mode.
    bool EnterCommandMode();
    bool EnterDataMode(bool traceOutput, bool retransmission);
    // After the window's own commands on the link it holds: one that found the line gone
    // has closed the shell, and the worker, asleep until the link is handed back, is woken
    // to report it.
    void WindowUsedLink();
    // The core's part of closing the link (also on CMD_LINK_LOST): ends a sending (posts
    // CMD_TRANSFER_END), gives the link to the window, ends a file being received with its
    // verdict, closes the trace file and the shell, and empties the queues.
    void CloseLink();

    // Refresh command: reads the node status from the host node and redraws the list.
    // False when the host node did not answer.
    bool RefreshFromHost();
    void RefreshStationList(const uint8_t *bitmaps);
    // Search command: resets the station states and starts a network search; true when the
    // host node accepted it (the worker then dispatches only, until the search ends).
    bool StartNetworkSearch();

    // The operation record. A front end keeps each line it is given to show
    // (MeradonView::AddRecordLine) and shows it as kept: stamped now, or indented.
    std::string KeepRecordLine(const std::string &text, LineStyle style);
    void ClearRecord() { core_.record.Clear(); }
    // Saves the record as a report named after the link (MeradonView::SaveRecords): its
    // path, or empty when there was nothing to save or the file could not be written.
    // `forgetSaved`: the saved lines are dropped from the record (see SaveAndForget).
    std::filesystem::path SaveRecord(bool forgetSaved = false);
    // The record's lines not saved yet (with forgetSaved: since the last save).
    std::size_t RecordLines() const { return core_.record.Size(); }

    // The operator closed the worker's box of `text`: the next trouble of that text is shown again.
    void MessageBoxClosed(const std::string &text) { core_.boxes.Closed(text); }
    // The window has run the command the worker asked for.
    void CommandFinished() { core_.command.Answer(); }

private:
    // The stations still to be sent to, one after the other (window thread only).
    struct ResendPlan {
        int of = 0;  // the sending repeated, as SendingRecord::repeats names it; 0 none
        SendingRecord file;  // path, size and CRC-32 that each station's sending must find
        std::vector<uint8_t> stations;
        uint8_t peerBefore = 0;
        bool running = false;       // one of them is being sent
        int64_t nextStartMs = 0;    // the next one starts no earlier
    };
    bool ReadyToResend() const;
    ResendResult StartResend(int of, const SendingRecord &file, const std::vector<uint8_t> &stations);
    void StepResend();
    int64_t ResendDueInMs();
    bool StartResendTo(uint8_t station);
    void EndResend();

    ResendPlan resend_;
    Core core_;
    Worker worker_;
};

}  // namespace meradon
