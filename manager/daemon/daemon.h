// meradond's main loop: what the window thread is for the window. It keeps the link open
// and in data transfer mode (opening it again with a back-off when it is lost or the
// host node does not answer), runs the core's steps and the commands the worker hands it,
// and ends on SIGTERM or SIGINT with the open receive file's verdict written, the record
// saved and the link closed.
#pragma once

#include <string>

#include "manager/core/clock.h"
#include "manager/core/manager.h"
#include "manager/daemon/daemon_settings.h"
#include "manager/daemon/daemon_view.h"

namespace meradon::daemon {

// The longest wait between two attempts to open the link.
constexpr int64_t kMostReopenWaitMs = 10'000;

class Daemon {
public:
    explicit Daemon(const DaemonSettings &settings);
    ~Daemon();

    // Runs until SIGTERM or SIGINT (blocked by the caller before any thread started).
    // Returns the exit status.
    int Run(int signalFd);
    // --check: opens the link, reads the host node's settings, prints them, closes.
    int Check();

private:
    // Opens the shell; `why` says what failed.
    bool OpenLink(std::string &why);
    bool TakeDataMode();
    void LinkFailed(const std::string &why);
    void HandleCommand(const LoopCommand &command);
    void ReopenLogFiles();
    void Shutdown();
    int64_t Step();

    const DaemonSettings &settings_;
    SystemClock clock_;
    DaemonView view_;
    Manager manager_;
    bool inDataMode_ = false;
    int64_t nextOpenMs_ = 0;
    int64_t reopenWaitMs_ = 1000;
    std::string lastFailure_;  // said once until the link comes back
};

}  // namespace meradon::daemon
