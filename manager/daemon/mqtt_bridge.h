// meradond's connection to an MQTT broker (libmosquitto, its own network thread). The
// broker learns "offline" on <base>/bridge/state as our last will, and "online" on every
// connection. Messages that are not retained go through the outbox in the history store:
// they are sent from it in order, QoS 1, a few at a time, and deleted when the broker has
// acknowledged them, so that a broker away for long or meradond killed meanwhile loses
// none (one may arrive twice). The main loop is woken on every (re)connection, so that it
// publishes its retained topics again, and when it may hand the client more messages.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "manager/daemon/broker_settings.h"
#include "manager/daemon/outbox.h"

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
    // Waits a little for the broker to acknowledge what it was handed, then "offline"
    // and a clean disconnect: the will is not sent.
    void Stop();

    // The outbox in the history store `store` (whose file is `file`), bounded by the
    // settings' outbox limit; `report` takes a line for the operation record. Before
    // Start, and before the store opens: the store's writer wakes the main loop when it
    // has written messages.
    void UseOutbox(HistoryStore &store, const std::filesystem::path &file,
                   std::function<void(const std::string &)> report);

    // `topic` below the base ("station/5"). QoS 1. A retained topic is not queued while
    // the broker is away (it is published again on connection); the others are appended
    // to the outbox, whose oldest messages are dropped beyond its bound (said in the record,
    // with the count, when the broker takes messages again). Without an outbox they are
    // sent only while the broker is there. Safe from any thread.
    void Publish(const std::string &topic, const std::string &payload, bool retain);
    // Not retained and not kept: handed to the client while the broker is there (QoS 1),
    // else dropped. For what only matters to whoever listens now (an answer, progress).
    // Safe from any thread.
    void PublishNow(const std::string &topic, const std::string &payload);
    // Main loop: hands the client the outbox's next messages while the broker is there,
    // when the store wrote some, the broker acknowledged some, or it connected.
    void SendQueued();

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
    static void OnPublish(mosquitto *client, void *self, int mid);
    // While the broker is there: QoS 1, not kept.
    void HandToClient(const std::string &fullTopic, const std::string &payload, bool retain);
    // Under outboxMutex_: hands the client the outbox's next messages, a few at a time;
    // the record line for messages found dropped goes into `said`.
    void HandNext(std::string &said);
    static void OnMessage(mosquitto *client, void *self, const mosquitto_message *message);

    BrokerSettings settings_;
    std::function<void()> wake_;
    RequestTaker takeRequest_;
    mosquitto *client_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> up_{false};

    std::unique_ptr<Outbox> outbox_;  // set before Start, then there for good
    std::function<void(const std::string &)> report_;
    std::mutex outboxMutex_;  // what follows
    std::map<int, int64_t> handed_;  // message id to sequence: with the client, not acknowledged
    std::condition_variable acknowledged_;  // handed_ shrank, or the broker was lost
    std::optional<int64_t> handedUpTo_;  // the newest sequence handed to the client, once read
    std::atomic<bool> toSend_{true};     // the outbox may hold messages not handed yet
};

}  // namespace meradon::daemon
