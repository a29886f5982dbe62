#include "manager/daemon/mqtt_bridge.h"

#include <mosquitto.h>

#include <chrono>
#include <fstream>

#include "manager/core/history/database.h"
#include "manager/core/history/history_store.h"
#include "manager/core/text_format.h"
#include "manager/daemon/journal_log.h"

namespace meradon::daemon {

namespace {

constexpr int kQos = 1;
// Outbox messages with the client at a time: enough to keep the connection busy, few
// enough that the outbox rather than the client's memory holds a backlog.
constexpr std::size_t kMostHanded = 64;
// Messages of QoS 1 the client sends before it waits for acknowledgements (MQTT 5 brokers
// may ask for fewer); 65,535 is the most the protocol counts.
constexpr int kMostInFlight = 65535;
// How long a stop waits for the broker to acknowledge what it was handed.
constexpr auto kMostStopWait = std::chrono::seconds(2);

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MqttBridge::MqttBridge(const BrokerSettings &settings, std::function<void()> wake)
    : settings_(settings), wake_(std::move(wake)) {
    CompleteBrokerSettings(settings_);
}

MqttBridge::~MqttBridge() { Stop(); }

bool MqttBridge::Start(std::string &error) {
    InitLibraryOnce();
    client_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (!client_) {
        error = "cannot make an MQTT client";
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION,
                         settings_.protocol == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // The client's default lets 20 messages wait for their acknowledgement and holds the
    // rest back: answers to a flood of requests would then keep a received file's message
    // waiting behind them. The outbox paces itself (kMostHanded); answers go at once.
    mosquitto_int_option(client_, MOSQ_OPT_SEND_MAXIMUM, kMostInFlight);
    mosquitto_connect_callback_set(client_, OnConnect);
    mosquitto_disconnect_callback_set(client_, OnDisconnect);
    mosquitto_publish_callback_set(client_, OnPublish);
    mosquitto_message_callback_set(client_, OnMessage);
    mosquitto_reconnect_delay_set(client_, 1, 10, true);
    const std::string stateTopic = settings_.base + "/bridge/state";
    mosquitto_will_set(client_, stateTopic.c_str(), 7, "offline", kQos, true);

    std::string password = settings_.password;
    if (!settings_.passwordFile.empty()) {
        std::ifstream in(settings_.passwordFile);
        if (!in || !std::getline(in, password)) {
            error = "cannot read the password file " + settings_.passwordFile;
            return false;
        }
    }
    if (!settings_.username.empty() &&
        mosquitto_username_pw_set(client_, settings_.username.c_str(),
                                  password.empty() ? nullptr : password.c_str()) != MOSQ_ERR_SUCCESS) {
        error = "the MQTT user name or password is not valid";
        return false;
    }
    if (settings_.tls) {
        auto orNull = [](const std::string &s) { return s.empty() ? nullptr : s.c_str(); };
        const int result = mosquitto_tls_set(client_, orNull(settings_.caFile),
                                             settings_.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                                             orNull(settings_.certFile), orNull(settings_.keyFile), nullptr);
        if (result != MOSQ_ERR_SUCCESS) {
            error = std::string("the TLS files are not usable: ") + mosquitto_strerror(result);
            return false;
        }
    }
    // A broker that is not there yet is tried again by the client's thread. The thread
    // starts first: started after a connection that failed, libmosquitto's thread waits
    // for a connection that nobody makes again, and the broker is never reached.
    if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        error = "cannot start the MQTT client's thread";
        return false;
    }
    const int result = mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, settings_.keepalive);
    if (result != MOSQ_ERR_SUCCESS && result != MOSQ_ERR_ERRNO && result != MOSQ_ERR_EAI)
        Log(LogLevel::Warning, std::string("MQTT broker ") + settings_.url + ": " + mosquitto_strerror(result));
    return true;
}

void MqttBridge::Stop() {
    if (!client_) return;
    {
        // A message the broker has but did not acknowledge yet would be sent again after
        // the next start.
        std::unique_lock<std::mutex> lock(outboxMutex_);
        acknowledged_.wait_for(lock, kMostStopWait, [this] { return handed_.empty() || !up_.load(); });
    }
    Publish("bridge/state", "offline", true);
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    client_ = nullptr;
}

void MqttBridge::UseOutbox(HistoryStore &store, const std::filesystem::path &file,
                           std::function<void(const std::string &)> report) {
    outbox_ = std::make_unique<Outbox>(store, file, settings_.outboxLimit);
    report_ = std::move(report);
    store.WhenOutboxWritten([this] {
        toSend_.store(true);
        wake_();
    });
}

void MqttBridge::Publish(const std::string &topic, const std::string &payload, bool retain) {
    if (!client_) return;
    const std::string full = settings_.base + "/" + topic;
    if (!retain && outbox_) {
        // Sent once the store's writer has it on the disk and wakes the main loop.
        outbox_->Append(full, payload);
        return;
    }
    HandToClient(full, payload, retain);
}

void MqttBridge::PublishNow(const std::string &topic, const std::string &payload) {
    if (client_) HandToClient(settings_.base + "/" + topic, payload, false);
}

void MqttBridge::HandToClient(const std::string &fullTopic, const std::string &payload, bool retain) {
    if (!up_.load()) return;
    mosquitto_publish(client_, nullptr, fullTopic.c_str(), static_cast<int>(payload.size()), payload.data(), kQos,
                      retain);
}

void MqttBridge::SendQueued() {
    if (!outbox_ || !client_ || !up_.load() || !toSend_.exchange(false)) return;
    std::string said;
    {
        std::lock_guard<std::mutex> lock(outboxMutex_);
        try {
            HandNext(said);
        } catch (const DatabaseError &) {
            // The store is not made yet, or cannot be read: tried again on the next pass.
            toSend_.store(true);
        }
    }
    if (!said.empty() && report_) report_(said);
}

void MqttBridge::HandNext(std::string &said) {
    if (!handedUpTo_) handedUpTo_ = outbox_->Start();
    std::vector<int64_t> refused;
    while (handed_.size() < kMostHanded) {
        const std::vector<OutboxMessage> messages = outbox_->After(*handedUpTo_, kMostHanded - handed_.size());
        if (messages.empty()) break;
        // The oldest go first when the outbox is full: a gap before what is left.
        if (const int64_t dropped = messages.front().sequence - *handedUpTo_ - 1; dropped > 0)
            said = Format("MQTT 发件箱已满,最早的 %lld 条消息已丢弃", static_cast<long long>(dropped));
        for (const OutboxMessage &message : messages) {
            handedUpTo_ = message.sequence;
            int mid = 0;
            const int result = mosquitto_publish(client_, &mid, message.topic.c_str(),
                                                 static_cast<int>(message.payload.size()), message.payload.data(),
                                                 kQos, false);
            // Without a connection (lost since up_ was read) the client keeps the message
            // and sends it once connected again.
            if (result == MOSQ_ERR_SUCCESS || result == MOSQ_ERR_NO_CONN) {
                handed_[mid] = message.sequence;
                continue;
            }
            // A message the client refuses (too large for the broker) would hold up all
            // after it for good.
            Log(LogLevel::Warning, "MQTT message on " + message.topic + " not sent: " + mosquitto_strerror(result));
            refused.push_back(message.sequence);
        }
    }
    outbox_->Acknowledged(std::move(refused));
}

void MqttBridge::OnConnect(mosquitto *, void *self, int result) {
    auto *bridge = static_cast<MqttBridge *>(self);
    if (result != 0) {
        Log(LogLevel::Warning, "MQTT broker " + bridge->settings_.url + " refused us: " +
                                   mosquitto_connack_string(result));
        return;
    }
    Log(LogLevel::Notice, "MQTT broker " + bridge->settings_.url + " connected");
    bridge->up_.store(true);
    bridge->Publish("bridge/state", "online", true);
    if (bridge->takeRequest_) {
        const std::string requests = bridge->settings_.base + "/request/+";
        mosquitto_subscribe(bridge->client_, nullptr, requests.c_str(), kQos);
    }
    bridge->connected_.store(true);
    bridge->toSend_.store(true);
    bridge->wake_();
}

void MqttBridge::OnPublish(mosquitto *, void *self, int mid) {
    auto *bridge = static_cast<MqttBridge *>(self);
    int64_t sequence = 0;
    bool wasFull = false;
    {
        std::lock_guard<std::mutex> lock(bridge->outboxMutex_);
        const auto handed = bridge->handed_.find(mid);
        if (handed == bridge->handed_.end()) return;  // not from the outbox
        wasFull = bridge->handed_.size() >= kMostHanded;
        sequence = handed->second;
        bridge->handed_.erase(handed);
    }
    bridge->acknowledged_.notify_all();
    bridge->outbox_->Acknowledged({sequence});
    // Below the most, new messages are handed as the store's writer has them.
    if (!wasFull) return;
    bridge->toSend_.store(true);
    bridge->wake_();
}

void MqttBridge::OnDisconnect(mosquitto *, void *self, int result) {
    auto *bridge = static_cast<MqttBridge *>(self);
    if (result != 0 && bridge->up_.exchange(false))
        Log(LogLevel::Warning, "MQTT broker " + bridge->settings_.url + " lost; messages wait until it is back");
    {
        std::lock_guard<std::mutex> lock(bridge->outboxMutex_);  // a stop waiting sees up_ false
    }
    bridge->acknowledged_.notify_all();
}

void MqttBridge::OnMessage(mosquitto *, void *self, const mosquitto_message *message) {
    auto *bridge = static_cast<MqttBridge *>(self);
    const std::string_view topic(message->topic);
    const std::string prefix = bridge->settings_.base + "/request/";
    if (!bridge->takeRequest_ || topic.substr(0, prefix.size()) != prefix) return;
    bridge->takeRequest_(topic.substr(prefix.size()),
                         std::string_view(static_cast<const char *>(message->payload),
                                          message->payloadlen > 0 ? static_cast<size_t>(message->payloadlen) : 0));
}

}  // namespace meradon::daemon
