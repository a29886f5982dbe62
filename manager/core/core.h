// Everything the steps of the manager core work on: the shared state, the window, the
// clock, the output directory, and the two requests the worker waits for. The steps are
// free functions that take it, as the state record is handed around.
#pragma once

#include <filesystem>
#include <string>

#include "manager/core/app_state.h"
#include "manager/core/clock.h"
#include "manager/core/history/history_store.h"
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
    void OpenHistory(int retentionDays = HistoryOptions{}.retentionDays);

    // Blocking requests of the worker; false when shutdown ended the wait.
    bool MessageBox(const std::string &text);
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
    // What outlives the run: sendings, receptions, quality samples, record lines.
    HistoryStore history;
    WindowRequest messageBox;
    WindowRequest command;
};

}  // namespace meradon
