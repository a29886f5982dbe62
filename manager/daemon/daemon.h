// meradond's main loop: what the window thread is for the window. It keeps the link open
// and in data transfer mode (opening it again with a back-off when it is lost or the
// host node does not answer), runs the core's steps and the commands the worker hands it,
// and ends on SIGTERM or SIGINT with the open receive file's verdict written, the record
// saved and the link closed.
#pragma once

#include <array>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "manager/core/clock.h"
#include "manager/core/host_settings.h"
#include "manager/core/quality_values.h"
#include "manager/core/manager.h"
#include "manager/daemon/daemon_settings.h"
#include "manager/daemon/daemon_view.h"
#include "manager/daemon/mqtt_bridge.h"
#include "manager/daemon/wake_event.h"
#include "manager/daemon/request_inbox.h"

namespace meradon::daemon {

// The longest wait between two attempts to open the link.
constexpr int64_t kMostReopenWaitMs = 10'000;
// The shortest time between two steps of the main loop when it is woken at once again.
constexpr int64_t kBusyStepGapMs = 2;
// Send requests that wait while one sending runs; one more is refused.
constexpr std::size_t kMostWaitingSends = 16;

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
    // The bridge's topics: the info, and the stations whose rows changed (all of them
    // after a connection, as a broker may have lost what it retained).
    void PublishInfo();
    void PublishStations(bool all);
    void PublishReceivedFiles();
    std::string InfoText() const;

    // Requests of other programs, run by the main loop (daemon_requests.cpp).
    void HandleRequests();
    void HandleRequest(const BridgeRequest &request);
    void QueueSend(const BridgeRequest &request);
    void Cancel(const BridgeRequest &request);
    void RunHostCommand(const BridgeRequest &request);
    void StartNextSend();
    // Progress of the running sending, and its answer once it has ended. Returns how long
    // the loop may sleep.
    int64_t WatchSending();
    // A request's answer. Those that end a sending taken from the queue go through the
    // outbox (the requester may wait minutes, across a broker away); every other answer
    // is for a requester there now, and is not kept: a flood of requests must not queue
    // its answers on the disk before the network's own messages.
    enum class Kept { No, InOutbox };
    void Answer(const BridgeRequest &request, bool ok, const std::string &error,
                const nlohmann::json &fields = nlohmann::json::object(), Kept kept = Kept::No);

    const DaemonSettings &settings_;
    SystemClock clock_;
    DaemonView view_;
    Manager manager_;
    bool inDataMode_ = false;
    int64_t nextOpenMs_ = 0;
    int64_t reopenWaitMs_ = 1000;
    std::string lastFailure_;  // said once until the link comes back
    std::optional<HostSettings> node_;  // as read when the link last came up
    std::time_t nodeReadAt_ = 0;
    // The broker's side (the bridge, the requests) wakes the loop here, the core through
    // the view.
    WakeEvent networkWake_;
    std::unique_ptr<MqttBridge> bridge_;
    // What each station's topic last carried; a station never seen has none.
    std::array<std::string, kLastQualityStation> stationPayloads_;

    struct WaitingSend {
        BridgeRequest request;
        std::filesystem::path path;  // resolved inside the send directory, or written
        std::vector<uint8_t> stations;  // 0: broadcast
    };
    struct RunningSend {
        RunningSend(WaitingSend waiting, int first) : send(std::move(waiting)), firstSending(first) {}
        WaitingSend send;
        int firstSending = 0;  // the sendings of the log it made: from this id on
        bool cancelled = false;
        int64_t nextProgressMs = 0;
        std::string lastProgress;
    };
    std::unique_ptr<RequestInbox> inbox_;
    std::deque<WaitingSend> waitingSends_;
    std::optional<RunningSend> runningSend_;
    int64_t nextHostCommandMs_ = 0;
};

}  // namespace meradon::daemon
