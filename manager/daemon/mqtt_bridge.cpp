#include "manager/daemon/mqtt_bridge.h"

#include <mosquitto.h>

#include <fstream>
#include <mutex>

#include "manager/daemon/journal_log.h"

namespace meradon::daemon {

namespace {

constexpr int kQos = 1;

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
    // A broker that is not there yet is tried again by the client's thread.
    const int result = mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, settings_.keepalive);
    if (result != MOSQ_ERR_SUCCESS && result != MOSQ_ERR_ERRNO && result != MOSQ_ERR_EAI)
        Log(LogLevel::Warning, std::string("MQTT broker ") + settings_.url + ": " + mosquitto_strerror(result));
    if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        error = "cannot start the MQTT client's thread";
        return false;
    }
    return true;
}

void MqttBridge::Stop() {
    if (!client_) return;
    Publish("bridge/state", "offline", true);
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    client_ = nullptr;
}

void MqttBridge::Publish(const std::string &topic, const std::string &payload, bool retain) {
    if (!client_) return;
    if (!up_.load()) {
        if (retain) return;
        if (waitingBytes_.load() + payload.size() > kMostWaitingBytes) {
            if (dropped_.fetch_add(1) == 0)
                Log(LogLevel::Warning, "MQTT broker away for long: messages beyond 100 MiB are dropped");
            return;
        }
        waitingBytes_.fetch_add(payload.size());
    }
    const std::string full = settings_.base + "/" + topic;
    mosquitto_publish(client_, nullptr, full.c_str(), static_cast<int>(payload.size()), payload.data(), kQos,
                      retain);
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
    if (bridge->takeRequest_) {
        const std::string requests = bridge->settings_.base + "/request/+";
        mosquitto_subscribe(bridge->client_, nullptr, requests.c_str(), kQos);
    }
    bridge->connected_.store(true);
    bridge->wake_();
}

void MqttBridge::OnDisconnect(mosquitto *, void *self, int result) {
    auto *bridge = static_cast<MqttBridge *>(self);
    if (result != 0 && bridge->up_.exchange(false))
        Log(LogLevel::Warning, "MQTT broker " + bridge->settings_.url + " lost; messages wait until it is back");
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
