// meradond's connection to an MQTT broker (libmosquitto, its own network thread). The
// broker learns "offline" on <base>/bridge/state as our last will, and "online" on every
// connection; messages of QoS 1 published while the broker is away wait in the client and
// go out in order once it is back. The main loop is woken on every (re)connection, so
// that it publishes its retained topics again.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "manager/daemon/broker_settings.h"

struct mosquitto;
struct mosquitto_message;

namespace meradon::daemon {

class MqttBridge {
public:
    // `wake` is called from the client's thread.
    MqttBridge(const BrokerSettings &settings, std::function<void()> wake);
    ~MqttBridge();
    MqttBridge(const MqttBridge &) = delete;
    MqttBridge &operator=(const MqttBridge &) = delete;

    // Starts connecting (and reconnecting, for as long as it runs). False with `error`
    // when the settings cannot work (a certificate file missing, the client not made).
    bool Start(std::string &error);
    // "offline", then a clean disconnect: the will is not sent.
    void Stop();

    // `topic` below the base ("station/5"). QoS 1. While the broker is away a retained
    // topic is not queued (it is published again on connection), and the others wait in
    // memory up to kMostWaitingBytes; beyond that they are dropped, and the count is logged.
    void Publish(const std::string &topic, const std::string &payload, bool retain);

    static constexpr size_t kMostWaitingBytes = 100 * 1024 * 1024;
    // True once after each connection: the retained topics are to be published again.
    bool TakeConnected() { return connected_.exchange(false); }

    const std::string &Base() const { return settings_.base; }

    // What arrives on <base>/request/<command> (subscribed with QoS 1 on every
    // connection) is handed to `take` on the client's thread: the command and the payload.
    // Set before Start.
    using RequestTaker = std::function<void(std::string_view command, std::string_view payload)>;
    void TakeRequests(RequestTaker take) { takeRequest_ = std::move(take); }

private:
    static void OnConnect(mosquitto *client, void *self, int result);
    static void OnDisconnect(mosquitto *client, void *self, int result);
    static void OnMessage(mosquitto *client, void *self, const mosquitto_message *message);

    BrokerSettings settings_;
    std::function<void()> wake_;
    RequestTaker takeRequest_;
    mosquitto *client_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> up_{false};
    std::atomic<size_t> waitingBytes_{0};  // published while the broker was away
    std::atomic<size_t> dropped_{0};
};

}  // namespace meradon::daemon
