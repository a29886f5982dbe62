#include "manager/daemon/mqtt_bridge.h"

#include <mosquitto.h>

#include <ctime>
#include <fstream>

#include "manager/core/history/database.h"
#include "manager/core/text_format.h"
#include "manager/daemon/journal_log.h"

namespace meradon::daemon {

namespace {

constexpr int kQos = 1;
// Outbox messages with the client at a time: enough to keep the connection busy, few
// enough that the outbox rather than the client's memory holds a backlog.
constexpr std::size_t kMostHanded = 64;

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
    mosquitto_connect_callback_set(client_, OnConnect);
    mosquitto_disconnect_callback_set(client_, OnDisconnect);
    mosquitto_publish_callback_set(client_, OnPublish);
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
    Publish("bridge/state", "offline", true);
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    // What is not acknowledged stays in the outbox for the next start.
    std::string dropped;
    if (outbox_) {
        std::lock_guard<std::mutex> lock(outboxMutex_);
        try {
            outbox_->Remove(acknowledged_);
        } catch (const DatabaseError &) {
            // Sent again after the next start: a duplicate, not a loss.
        }
        dropped = TakeDroppedLine();
    }
    if (!dropped.empty() && report_) report_(dropped);
    mosquitto_destroy(client_);
    client_ = nullptr;
}

void MqttBridge::UseOutbox(const std::filesystem::path &file, std::function<void(const std::string &)> report) {
    report_ = std::move(report);
    try {
        outbox_ = std::make_unique<Outbox>(file, settings_.outboxLimit);
    } catch (const DatabaseError &e) {
        Log(LogLevel::Warning, std::string("MQTT outbox: ") + e.what() + "; messages wait in memory instead");
        return;
    }
    if (const uint64_t bytes = outbox_->Bytes())
        Log(LogLevel::Notice, Format("MQTT outbox: %llu bytes wait from before", static_cast<unsigned long long>(bytes)));
}

void MqttBridge::Publish(const std::string &topic, const std::string &payload, bool retain) {
    if (!client_) return;
    const std::string full = settings_.base + "/" + topic;
    if (!retain && outbox_ && Queue(full, payload)) {
        SendQueued();
        return;
    }
    if (!up_.load()) {
        if (retain) return;
        if (waitingBytes_.load() + payload.size() > settings_.outboxLimit) {
            if (dropped_.fetch_add(1) == 0)
                Log(LogLevel::Warning, "MQTT broker away for long: messages beyond the outbox limit are dropped");
            return;
        }
        waitingBytes_.fetch_add(payload.size());
    }
    mosquitto_publish(client_, nullptr, full.c_str(), static_cast<int>(payload.size()), payload.data(), kQos,
                      retain);
}

bool MqttBridge::Queue(const std::string &topic, const std::string &payload) {
    std::lock_guard<std::mutex> lock(outboxMutex_);
    std::size_t dropped = 0;
    try {
        dropped = outbox_->Append(topic, payload, static_cast<int64_t>(std::time(nullptr)));
    } catch (const DatabaseError &e) {
        if (!outboxFailing_)
            Log(LogLevel::Warning, std::string("MQTT outbox cannot be written (") + e.what() +
                                       "): messages wait in memory until it can");
        outboxFailing_ = true;
        return false;
    }
    if (outboxFailing_) Log(LogLevel::Notice, "MQTT outbox written again");
    outboxFailing_ = false;
    if (dropped && !outboxDropped_)
        Log(LogLevel::Warning, Format("MQTT outbox full (%llu bytes): the oldest messages are dropped",
                                      static_cast<unsigned long long>(settings_.outboxLimit)));
    outboxDropped_ += dropped;
    return true;
}

void MqttBridge::SendQueued() {
    if (!outbox_ || !client_) return;
    std::string dropped;
    {
        std::lock_guard<std::mutex> lock(outboxMutex_);
        try {
            // The broker takes messages again: the episode of drops, if any, is over.
            if (!acknowledged_.empty()) dropped = TakeDroppedLine();
            outbox_->Remove(acknowledged_);
            acknowledged_.clear();
            if (up_.load()) HandNext();
        } catch (const DatabaseError &e) {
            // Tried again on the next pass; a deletion that never happens is a duplicate.
            if (!outboxFailing_) Log(LogLevel::Warning, std::string("MQTT outbox: ") + e.what());
            outboxFailing_ = true;
        }
    }
    if (!dropped.empty() && report_) report_(dropped);
}

void MqttBridge::HandNext() {
    while (handed_.size() < kMostHanded) {
        const std::vector<OutboxMessage> messages = outbox_->After(handedUpTo_, kMostHanded - handed_.size());
        if (messages.empty()) return;
        for (const OutboxMessage &message : messages) {
            handedUpTo_ = message.sequence;
            int mid = 0;
            const int result = mosquitto_publish(client_, &mid, message.topic.c_str(),
                                                 static_cast<int>(message.payload.size()), message.payload.data(),
                                                 kQos, false);
            if (result == MOSQ_ERR_SUCCESS) {
                handed_[mid] = message.sequence;
                continue;
            }
            // A message the client refuses (too large for the broker) would hold up all
            // after it for good.
            Log(LogLevel::Warning, "MQTT message on " + message.topic + " not sent: " + mosquitto_strerror(result));
            acknowledged_.push_back(message.sequence);
        }
    }
}

std::string MqttBridge::TakeDroppedLine() {
    if (!outboxDropped_) return {};
    const std::string line = Format("MQTT 发件箱已满,最早的 %zu 条消息已丢弃", outboxDropped_);
    outboxDropped_ = 0;
    return line;
}

void MqttBridge::OnConnect(mosquitto *, void *self, int result) {
    auto *bridge = static_cast<MqttBridge *>(self);
    if (result != 0) {
        Log(LogLevel::Warning, "MQTT broker " + bridge->settings_.url + " refused us: " +
                                   mosquitto_connack_string(result));
        return;
    }
    Log(LogLevel::Notice, "MQTT broker " + bridge->settings_.url + " connected");
    if (const size_t dropped = bridge->dropped_.exchange(0))
        Log(LogLevel::Warning, std::to_string(dropped) + " MQTT messages were dropped while the broker was away");
    bridge->waitingBytes_.store(0);
    bridge->up_.store(true);
    bridge->Publish("bridge/state", "online", true);
    bridge->connected_.store(true);
    bridge->wake_();
}

void MqttBridge::OnPublish(mosquitto *, void *self, int mid) {
    auto *bridge = static_cast<MqttBridge *>(self);
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(bridge->outboxMutex_);
        const auto handed = bridge->handed_.find(mid);
        if (handed == bridge->handed_.end()) return;  // not from the outbox
        first = bridge->acknowledged_.empty();
        bridge->acknowledged_.push_back(handed->second);
        bridge->handed_.erase(handed);
    }
    if (first) bridge->wake_();
}

void MqttBridge::OnDisconnect(mosquitto *, void *self, int result) {
    auto *bridge = static_cast<MqttBridge *>(self);
    if (result != 0 && bridge->up_.exchange(false))
        Log(LogLevel::Warning, "MQTT broker " + bridge->settings_.url + " lost; messages wait until it is back");
}

}  // namespace meradon::daemon
