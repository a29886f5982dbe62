#include "manager/daemon/daemon.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "manager/core/host_settings.h"
#include "manager/core/link_failure.h"
#include "manager/core/text_format.h"
#include "manager/daemon/bridge_payloads.h"
#include "manager/daemon/journal_log.h"
#include "tevrolink/tevrolink.h"

namespace meradon::daemon {

namespace {

// A station row's state before the host node or a signal packet said anything.
constexpr uint8_t kUnknownStationState = 0xFF;

// systemd's watchdog interval in ms (half of what the unit allows), or 0 without one.
int64_t WatchdogPingMs() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) return 0;
    return std::max<int64_t>(static_cast<int64_t>(usec / 2000), 1);
}

}  // namespace

Daemon::Daemon(const DaemonSettings &settings)
    : settings_(settings), view_(settings), manager_(view_, clock_, settings.outputDir) {
    view_.Attach(manager_);
    manager_.Context().quality.LimitTo(1);  // a station's topic needs its newest sample only
    manager_.State().netSettings.localAddress = settings.localAddress;
    manager_.State().netSettings.localPort = settings.localPort;
    manager_.State().comSettings.portName = settings.serialPort;
    manager_.State().comSettings.baudRate = settings.baud;
}

Daemon::~Daemon() { manager_.Stop(); }

bool Daemon::OpenLink(std::string &why) {
    errno = 0;
    int opened = 0;
    if (settings_.link == LinkKind::Serial) {
        opened = OpenCOMShell(settings_.serialPort.c_str(), settings_.baud);
        if (!opened) why = SerialOpenFailure(errno, settings_.serialPort);
    } else {
        opened = OpenNETShell(settings_.localAddress.c_str(), settings_.hostAddress.c_str(),
                              settings_.localPort, settings_.hostPort);
        if (!opened) why = NetworkOpenFailure(errno, settings_.localPort);
    }
    if (!opened) {
        why = "打开通讯端口失败: " + why;
        return false;
    }
    manager_.LinkOpened();
    return true;
}

// As the window does from "打开" to "数据传输模式": command set mode, the host node's peer
// and station list, then data transfer mode.
bool Daemon::TakeDataMode() {
    HostSettings node;
    std::string failed;
    if (!manager_.EnterCommandMode() || !ReadHostSettings(node, failed) || !manager_.RefreshFromHost()) {
        manager_.CloseLink();
        LinkFailed(Format("主节点没有应答: %s", settings_.LinkText().c_str()));
        return false;
    }
    manager_.State().peerNode.store(node.peer);
    if (!manager_.EnterDataMode(settings_.traceOutput, settings_.retransmission)) {
        manager_.CloseLink();
        LinkFailed(Format("主节点没有应答: %s", settings_.LinkText().c_str()));
        return false;
    }
    node_ = node;
    nodeReadAt_ = std::time(nullptr);
    inDataMode_ = true;
    reopenWaitMs_ = 1000;
    if (!lastFailure_.empty()) Log(LogLevel::Notice, "the link is back");
    lastFailure_.clear();
    manager_.Context().Line(Format("数据传输模式: %s", settings_.LinkText().c_str()));
    sd_notifyf(0, "STATUS=data transfer mode on %s", settings_.LinkText().c_str());
    PublishInfo();
    return true;
}

std::string Daemon::InfoText() const {
    const bool udp = settings_.link == LinkKind::Udp;
    const LinkInfo link{udp ? "udp" : "serial",
                        udp ? Format("%s:%u", settings_.hostAddress.c_str(), unsigned{settings_.hostPort})
                            : settings_.serialPort,
                        inDataMode_ ? "data" : "none"};
    return InfoPayload(MERADON_VERSION, link, node_, nodeReadAt_);
}

void Daemon::PublishInfo() {
    if (bridge_) bridge_->Publish("bridge/info", InfoText(), true);
}

// A station's topic is published when what it carries changes, and again after each
// connection; a station the host node never named (no state, no signal) has no topic.
void Daemon::PublishStations(bool all) {
    if (!bridge_) return;
    const AppState &state = manager_.State();
    const int64_t now = clock_.NowMs();
    for (int row : view_.TakeChangedRows()) {
        if (row >= kLastQualityStation) continue;  // 255 is no station
        const uint8_t station = static_cast<uint8_t>(row + 1);
        StationSnapshot snapshot{station, state.stationState[row].load(), std::nullopt, std::nullopt};
        if (snapshot.state == kUnknownStationState) snapshot.state = 0;
        if (const auto last = manager_.Context().quality.Last(station)) {
            snapshot.quality = last->values;
            snapshot.lastSeen = std::time(nullptr) - (now - last->timeMs) / 1000;
        }
        std::string &published = stationPayloads_[row];
        if (published.empty() && snapshot.state == 0 && !snapshot.quality) continue;
        std::string payload = StationPayload(snapshot);
        if (payload == published) continue;
        published = std::move(payload);
        if (!all) bridge_->Publish("station/" + std::to_string(station), published, true);
    }
    if (!all) return;
    for (int row = 0; row < kLastQualityStation; ++row)
        if (!stationPayloads_[row].empty())
            bridge_->Publish("station/" + std::to_string(row + 1), stationPayloads_[row], true);
}

// One message per received file, with the file's bytes when it is small enough. Taken
// also without a bridge, so that nothing piles up.
void Daemon::PublishReceivedFiles() {
    const std::vector<ReceptionFact> files = view_.TakeReceivedFiles();
    if (!bridge_) return;
    const uint32_t limit = settings_.broker.inlineLimit;
    for (const ReceptionFact &file : files) {
        std::optional<std::string> data;
        if (limit > 0 && file.size <= limit)
            if (std::ifstream in(file.path, std::ios::binary); in)
                data = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        bridge_->Publish("station/" + std::to_string(file.station) + "/received", ReceivedPayload(file, data), false);
    }
}

// Said once for as long as the same failure lasts; the next attempt waits longer, up to
// kMostReopenWaitMs.
void Daemon::LinkFailed(const std::string &why) {
    if (why != lastFailure_) {
        Log(LogLevel::Warning, why + Format(" (trying again every %lld s at most)",
                                            static_cast<long long>(kMostReopenWaitMs / 1000)));
        sd_notifyf(0, "STATUS=%s", why.c_str());
        lastFailure_ = why;
    }
    nextOpenMs_ = clock_.NowMs() + reopenWaitMs_;
    reopenWaitMs_ = std::min(reopenWaitMs_ * 2, kMostReopenWaitMs);
}

void Daemon::HandleCommand(const LoopCommand &command) {
    switch (command.command) {
    case CMD_REFRESH: manager_.RefreshFromHost(); break;
    case CMD_TRANSFER_END:
    case CMD_FILE_SENT: manager_.FinishSending(); break;
    case CMD_LINK_LOST:
        if (manager_.State().linkOpen.load()) break;  // opened again meanwhile
        manager_.CloseLink();
        inDataMode_ = false;
        LinkFailed(Format("与主节点的连接已断开: %s", settings_.LinkText().c_str()));
        PublishInfo();
        break;
    default: break;
    }
    if (command.answer) manager_.CommandFinished();
}

void Daemon::ReopenLogFiles() {
    AppState &state = manager_.State();
    std::lock_guard<std::mutex> gate(state.dispatchGate);
    state.traceFile.Close();  // the next record opens a new one
    manager_.Context().qualityLog.Close();
    Log(LogLevel::Info, "log files closed; the next records open them again");
}

// One pass: the link, the worker's commands, the core's step. Returns how long the loop
// may sleep.
int64_t Daemon::Step() {
    networkWake_.Clear();
    if (!inDataMode_ && clock_.NowMs() >= nextOpenMs_) {
        std::string why;
        if (OpenLink(why))
            TakeDataMode();
        else
            LinkFailed(why);
    }
    for (const LoopCommand &command : view_.TakeCommands()) HandleCommand(command);
    const WindowStep step = manager_.PumpQueues();
    HandleRequests();
    const int64_t sendingDue = WatchSending();
    if (bridge_) {
        const bool connected = bridge_->TakeConnected();
        if (connected) PublishInfo();
        PublishStations(connected);
    }
    PublishReceivedFiles();
    if (bridge_) bridge_->SendQueued();
    int64_t wait = step.queuedLeft ? 0 : std::min(step.dueInMs, sendingDue);
    if (!inDataMode_) wait = std::min(wait, std::max<int64_t>(nextOpenMs_ - clock_.NowMs(), 0));
    return wait;
}

int Daemon::Run(int signalFd) {
    std::error_code error;
    std::filesystem::create_directories(settings_.outputDir, error);
    if (error) {
        Log(LogLevel::Error, "cannot create the output directory " + settings_.outputDir.string() + ": " +
                                 error.message());
        return 1;
    }
    if (!settings_.broker.url.empty()) {
        bridge_ = std::make_unique<MqttBridge>(settings_.broker, [this] { networkWake_.Wake(); });
        bridge_->UseOutbox(manager_.Context().history, settings_.outputDir / kHistoryFileName,
                           [this](const std::string &line) { manager_.Context().Line(line); });
        inbox_ = std::make_unique<RequestInbox>(
            [this](const std::string &command, const std::string &payload) {
                bridge_->PublishNow("response/" + command, payload);
            },
            [this] { networkWake_.Wake(); });
        bridge_->TakeRequests([this](std::string_view command, std::string_view payload) {
            inbox_->Take(command, payload);
        });
        std::string why;
        if (!bridge_->Start(why)) {
            Log(LogLevel::Error, "MQTT: " + why);
            return 1;
        }
    }
    manager_.Start(settings_.retentionDays);
    Log(LogLevel::Info, "meradond " MERADON_VERSION " on " + settings_.LinkText() + ", output in " +
                            settings_.outputDir.string());
    sd_notify(0, "READY=1");
    const int64_t watchdogMs = WatchdogPingMs();
    int64_t nextPing = 0;
    for (;;) {
        int64_t wait = Step();
        if (watchdogMs) {
            const int64_t now = clock_.NowMs();
            if (now >= nextPing) {
                sd_notify(0, "WATCHDOG=1");
                nextPing = now + watchdogMs;
            }
            wait = std::min(wait, nextPing - now);
        }
        const int64_t stepped = clock_.NowMs();
        pollfd fds[3] = {{signalFd, POLLIN, 0}, {networkWake_.Descriptor(), POLLIN, 0},
                         {view_.WakeDescriptor(), POLLIN, 0}};
        if (::poll(fds, 3, static_cast<int>(std::clamp<int64_t>(wait, 0, 60'000))) < 0 && errno != EINTR) break;
        // Woken by the worker again at once (a flood of packets): what it hands on within the
        // gap is taken in one step, rather than the loop waking for each datagram. The
        // signal and the broker's side end the gap.
        const int64_t gap = stepped + kBusyStepGapMs - clock_.NowMs();
        if ((fds[2].revents & POLLIN) && !(fds[0].revents & POLLIN) && !(fds[1].revents & POLLIN) && gap > 0 &&
            ::poll(fds, 2, static_cast<int>(gap)) < 0 && errno != EINTR)
            break;
        if (!(fds[0].revents & POLLIN)) continue;
        signalfd_siginfo info {};
        if (::read(signalFd, &info, sizeof info) != sizeof info) continue;
        if (info.ssi_signo == SIGHUP) {
            ReopenLogFiles();
            continue;
        }
        Log(LogLevel::Info, info.ssi_signo == SIGTERM ? "SIGTERM: stopping" : "SIGINT: stopping");
        break;
    }
    Shutdown();
    return 0;
}

void Daemon::Shutdown() {
    sd_notify(0, "STOPPING=1");
    manager_.CloseLink();  // a file being received ends with its verdict line
    for (const LoopCommand &command : view_.TakeCommands()) HandleCommand(command);
    // Before the store closes: a file that ended with the link goes into the outbox, and
    // what the broker acknowledged leaves it.
    PublishReceivedFiles();
    if (bridge_) bridge_->Stop();
    manager_.Stop();
    view_.SaveRecords(true);
    CloseShell();
}

int Daemon::Check() {
    std::string why;
    if (!OpenLink(why)) {
        Log(LogLevel::Error, why);
        return 1;
    }
    HostSettings node;
    std::string failed = "the request for command set mode";
    const bool answered = manager_.EnterCommandMode() && ReadHostSettings(node, failed);
    CloseShell();
    if (!answered) {
        Log(LogLevel::Error, Format("主节点没有应答: %s (%s)", settings_.LinkText().c_str(), failed.c_str()));
        return 1;
    }
    std::printf("link            %s\n", settings_.LinkText().c_str());
    std::printf("station         %u (%s)\n", unsigned{node.station}, node.master ? "master" : "slave");
    std::printf("peer            %s\n", node.peer ? std::to_string(node.peer).c_str() : "broadcast");
    std::printf("frequency 1, 2  %u, %u\n", unsigned{node.freq1}, unsigned{node.freq2});
    std::printf("power           level %u\n", unsigned{node.power});
    std::printf("retransmission  %s\n", node.retransmission ? "on" : "off");
    std::printf("firmware        %s\n", node.firmware.c_str());
    return 0;
}

}  // namespace meradon::daemon
