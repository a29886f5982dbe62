// The requests of other programs, as the main loop runs them: one sending at a time, the
// next ones waiting in order; the host node's commands in command set mode, as the
// window's controls run them.
#include <algorithm>
#include <map>

#include "manager/core/sending.h"
#include "manager/daemon/daemon.h"
#include "manager/daemon/journal_log.h"
#include "manager/daemon/request_files.h"
#include "tevrolink/tevrolink.h"

namespace meradon::daemon {

namespace {

// <base>/sending carries the progress no more often than this.
constexpr int64_t kProgressEveryMs = 500;
// Each host-node command takes the link out of data transfer mode for a moment; a flood
// of them must not keep it there.
constexpr int64_t kHostCommandGapMs = 1000;

template <typename T>
constexpr bool Is(const RequestBody &body) {
    return std::holds_alternative<T>(body);
}

}  // namespace

void Daemon::Answer(const BridgeRequest &request, bool ok, const std::string &error, const nlohmann::json &fields,
                    Kept kept) {
    if (!bridge_) return;
    const std::string topic = "response/" + request.command;
    const std::string payload = ResponsePayload(request.id, ok, error, fields);
    if (kept == Kept::InOutbox)
        bridge_->Publish(topic, payload, false);
    else
        bridge_->PublishNow(topic, payload);
}

void Daemon::HandleRequests() {
    if (!inbox_) return;
    for (const BridgeRequest &request : inbox_->Drain()) HandleRequest(request);
}

void Daemon::HandleRequest(const BridgeRequest &request) {
    const RequestBody &body = request.body;
    if (Is<SendRequest>(body)) {
        QueueSend(request);
    } else if (Is<CancelRequest>(body)) {
        Cancel(request);
    } else if (Is<InfoRequest>(body)) {
        Answer(request, true, "", nlohmann::json::parse(InfoText()));
    } else {
        RunHostCommand(request);
    }
}

// The file is looked up (or written) now, so that a bad one is refused at once; the
// sending waits for its turn, also while the link is down.
void Daemon::QueueSend(const BridgeRequest &request) {
    if (waitingSends_.size() >= kMostWaitingSends) {
        Answer(request, false, "queue full");
        return;
    }
    const SendRequest &send = std::get<SendRequest>(request.body);
    std::string error;
    const std::optional<std::filesystem::path> path =
        send.data ? WriteRequestedFile(settings_.outputDir, send.name, *send.data, error)
                  : FileInSendDir(settings_.sendDir, send.file, error);
    if (!path) {
        Answer(request, false, error);
        return;
    }
    std::vector<uint8_t> stations = send.stations;
    if (stations.empty()) stations.push_back(0);
    waitingSends_.push_back({request, *path, std::move(stations)});
    StartNextSend();
}

void Daemon::StartNextSend() {
    AppState &state = manager_.State();
    while (!runningSend_ && !waitingSends_.empty() && manager_.InDataMode() && !manager_.Resending() &&
           state.sendState.load() == IDLE && !state.sendFile.IsOpen()) {
        WaitingSend next = std::move(waitingSends_.front());
        waitingSends_.pop_front();
        const bool loop = std::get<SendRequest>(next.request.body).loop;
        state.loopSend.store(loop ? 1 : 0);
        const int first = manager_.Context().sendings.LastId() + 1;
        switch (manager_.SendToStations(next.path.string(), next.stations)) {
        case ResendResult::Started:
            Log(LogLevel::Info, "sending " + next.path.string() + " as requested");
            runningSend_.emplace(std::move(next), first);
            break;
        case ResendResult::CannotOpen:
            state.loopSend.store(0);
            Answer(next.request, false, "the file cannot be read, or is empty", nlohmann::json::object(), Kept::InOutbox);
            break;
        default:
            state.loopSend.store(0);
            Answer(next.request, false, "the link is not ready for a sending", nlohmann::json::object(), Kept::InOutbox);
            break;
        }
    }
}

void Daemon::Cancel(const BridgeRequest &request) {
    const bool running = runningSend_.has_value();
    if (running) {
        // As the window's cancel button does.
        runningSend_->cancelled = true;
        manager_.State().loopSend.store(0);
        manager_.SendingCancelled();
        view_.PostCommand(CMD_TRANSFER_END);
        StopHost();
    }
    Answer(request, true, "", {{"cancelled", running}});
}

// add_station, set_receiver and refresh: on the host node in command set mode, then back
// to data transfer mode. Refused while a sending runs or a file comes in, which the
// change of mode would cut short.
void Daemon::RunHostCommand(const BridgeRequest &request) {
    AppState &state = manager_.State();
    if (!manager_.InDataMode()) {
        Answer(request, false, "the link to the host node is down");
        return;
    }
    if (runningSend_ || state.sendState.load() != IDLE || state.recvFile) {
        Answer(request, false, "busy: a file is being sent or received");
        return;
    }
    const int64_t now = clock_.NowMs();
    if (now < nextHostCommandMs_) {
        Answer(request, false, "busy: one command for the host node a second");
        return;
    }
    nextHostCommandMs_ = now + kHostCommandGapMs;
    bool answered = false;
    std::string refusal;
    nlohmann::json fields = nlohmann::json::object();
    if (const auto *add = std::get_if<AddStationRequest>(&request.body)) {
        manager_.InCommandSetMode([&] {
            uint8_t station = add->station;
            answered = SetNodeActive(&station, 1) == 1 && manager_.RefreshFromHost();
        });
    } else if (const auto *receiver = std::get_if<SetReceiverRequest>(&request.body)) {
        // As the host node settings' controls: only a master has a receiver to choose.
        uint8_t peer = 0;
        manager_.InCommandSetMode([&] {
            uint8_t number = 0, role = 0;
            if (GetHostNodeID(&number, &role) != 1) return;
            answered = true;
            if (role == 0)
                refusal = receiver->station ? "从节点仅能向主节点发送数据,无需指定" : "从节点不支持广播功能";
            else
                answered = SetPeerNodeID(receiver->station, &peer) == 1;
        });
        if (answered && refusal.empty()) {
            state.peerNode.store(peer);
            if (node_) node_->peer = peer;
            PublishInfo();
            fields["receiver"] = peer == 0 ? nlohmann::json("broadcast") : nlohmann::json(peer);
        }
    } else {
        manager_.InCommandSetMode([&] { answered = manager_.RefreshFromHost(); });
    }
    if (!answered) {
        Answer(request, false, "the host node did not answer");
        return;
    }
    if (!refusal.empty()) {
        Answer(request, false, refusal);
        return;
    }
    if (!Is<SetReceiverRequest>(request.body)) {
        PublishStations(false);
        nlohmann::json stations = nlohmann::json::array();
        for (const std::string &payload : stationPayloads_)
            if (!payload.empty()) stations.push_back(nlohmann::json::parse(payload));
        fields["stations"] = std::move(stations);
    }
    Answer(request, true, "", fields);
}

int64_t Daemon::WatchSending() {
    if (!runningSend_) {
        StartNextSend();
        if (!runningSend_) return INT64_MAX;
    }
    AppState &state = manager_.State();
    RunningSend &running = *runningSend_;
    const int64_t now = clock_.NowMs();
    if (now >= running.nextProgressMs) {
        const nlohmann::json progress = {{"id", running.send.request.id},
                                         {"done", state.sendDone.load()},
                                         {"size", state.sendSize.load()},
                                         {"pass", state.loopCount.load() + 1}};
        std::string text = progress.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (text != running.lastProgress && bridge_) bridge_->PublishNow("sending", text);
        running.lastProgress = std::move(text);
        running.nextProgressMs = now + kProgressEveryMs;
    }
    // Over once the last station's sending has ended and its outcome is known.
    const int last = manager_.Context().sendings.LastId();
    std::map<uint8_t, StationOutcome> outcomes;
    for (int id = running.firstSending; id <= last; ++id) {
        const std::optional<SendingRecord> record = manager_.Context().sendings.Find(id);
        if (!record) continue;
        if (!record->Ended()) return std::min(kProgressEveryMs, running.nextProgressMs - now);
        for (const StationResult &result : record->stations) outcomes[result.station] = result.outcome;
    }
    if (manager_.Resending() || state.sendState.load() != IDLE || state.sendFile.IsOpen())
        return std::min(kProgressEveryMs, running.nextProgressMs - now);

    // Stations the plan never reached: it stopped at a cancel, a lost link or a changed file.
    const StationOutcome unreached = running.cancelled           ? StationOutcome::Cancelled
                                     : !manager_.InDataMode()    ? StationOutcome::LinkLost
                                                                 : StationOutcome::FileUnreadable;
    if (running.send.stations != std::vector<uint8_t>{0})
        for (uint8_t station : running.send.stations) outcomes.try_emplace(station, unreached);
    nlohmann::json results = nlohmann::json::array();
    bool allOk = !outcomes.empty();
    for (const auto &[station, outcome] : outcomes) {
        const bool ok = outcome == StationOutcome::Succeeded;
        allOk = allOk && ok;
        results.push_back({{"station", station}, {"ok", ok}, {"reason", OutcomeText(outcome)}});
    }
    const std::string error = outcomes.empty() ? "no station was active" : "not every station received the file";
    state.loopSend.store(0);
    Answer(running.send.request, allOk, error, {{"results", std::move(results)}}, Kept::InOutbox);
    runningSend_.reset();
    StartNextSend();
    return runningSend_ ? 0 : INT64_MAX;
}

}  // namespace meradon::daemon
