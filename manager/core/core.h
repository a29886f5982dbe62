// Everything the steps of the manager core work on: the shared state, the window, the
// clock, the output directory, the operation record, the boxes the operator has not closed
// yet, and the command the worker has the window run. The steps are free functions that
// take it, as the state record is handed around.
#pragma once

#include <filesystem>
#include <string>

#include "manager/core/app_state.h"
#include "manager/core/clock.h"
#include "manager/core/history/history_store.h"
#include "manager/core/open_boxes.h"
#include "manager/core/operation_record.h"
#include "manager/core/output_directory.h"
#include "manager/core/quality_history.h"
#include "manager/core/quality_log.h"
#include "manager/core/sending_log.h"
#include "manager/core/view.h"
#include "manager/core/window_request.h"

namespace meradon {

struct Core {
    Core(MeradonView &view, Clock &clock, std::filesystem::path outputDir);

    int64_t Now() { return clock.NowMs(); }
    int64_t Since(const std::atomic<int64_t> &time) { return clock.NowMs() - time.load(); }

    // Record lines, shown and kept in the history.
    void Line(const std::string &text);
    void Indented(const std::string &text);

    // Starts the history store in the output directory (at window creation; a core
    // without it keeps no history).
    void OpenHistory(int retentionDays = kDefaultRetentionDays);

    // Tells the operator `text` in a message box and in the record, and goes on: the
    // worker never waits for a person. A box of the same text still open is not shown
    // again; the record line is written each time.
    void MessageBox(const std::string &text);
    // Has the window run `command` and waits until it has (a refresh: a command of the
    // host node, never a person); false when shutdown ended the wait.
    bool SendCommand(int command);

    AppState state;
    MeradonView &view;
    Clock &clock;
    OutputDirectory output;
    // Link quality of the signal packets (window thread).
    QualityHistory quality;
    QualityLog qualityLog{output};
    // Every sending of the run with its outcome per station.
    SendingLog sendings;
    OperationRecord record;
    OpenBoxes boxes;
    // What outlives the run: sendings, receptions, quality samples, record lines.
    HistoryStore history;
    WindowRequest command;
};

}  // namespace meradon
