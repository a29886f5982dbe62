// meradond's connection to an MQTT broker (libmosquitto, its own network thread). The
// broker learns "offline" on <base>/bridge/state as our last will, and "online" on every
// connection. Messages that are not retained go through the outbox on disk: they are sent
// from it in order, QoS 1, a few at a time, and deleted when the broker has acknowledged
// them, so that a broker away for long or meradond killed meanwhile loses none (one may
// arrive twice). The main loop is woken on every (re)connection, so that it publishes its
// retained topics again, and on acknowledgements, so that it sends the next messages.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "manager/daemon/broker_settings.h"
#include "manager/daemon/outbox.h"

struct mosquitto;

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

    // The outbox in the history store `file`, bounded by the settings' outbox limit;
    // `report` takes a line for the operation record. Before Start. Without an outbox (or
    // when it cannot be written) messages wait in memory up to the same bound.
    void UseOutbox(const std::filesystem::path &file, std::function<void(const std::string &)> report);

    // `topic` below the base ("station/5"). QoS 1. A retained topic is not queued while
    // the broker is away (it is published again on connection); the others are appended to
    // the outbox, whose oldest messages are dropped beyond its bound (said once, with the
    // count, when the broker takes messages again). Safe from any thread.
    void Publish(const std::string &topic, const std::string &payload, bool retain);
    // Main loop: deletes from the outbox what the broker acknowledged and, while it is
    // connected, hands the client the next messages.
    void SendQueued();
    // True once after each connection: the retained topics are to be published again.
    bool TakeConnected() { return connected_.exchange(false); }

    const std::string &Base() const { return settings_.base; }

private:
    static void OnConnect(mosquitto *client, void *self, int result);
    static void OnDisconnect(mosquitto *client, void *self, int result);
    static void OnPublish(mosquitto *client, void *self, int mid);
    // Appends to the outbox; false when it cannot be written.
    bool Queue(const std::string &topic, const std::string &payload);
    // Under outboxMutex_: hands the client the outbox's next messages, a few at a time.
    void HandNext();
    // Under outboxMutex_: the record line for messages dropped since it was last said.
    std::string TakeDroppedLine();

    BrokerSettings settings_;
    std::function<void()> wake_;
    mosquitto *client_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> up_{false};
    std::atomic<size_t> waitingBytes_{0};  // published while the broker was away, without outbox
    std::atomic<size_t> dropped_{0};

    std::unique_ptr<Outbox> outbox_;  // set before Start, then there for good
    std::function<void(const std::string &)> report_;
    std::mutex outboxMutex_;  // the outbox and what follows
    std::map<int, int64_t> handed_;        // message id to sequence: with the client, not acknowledged
    int64_t handedUpTo_ = 0;               // the newest sequence handed to the client
    std::vector<int64_t> acknowledged_;    // sequences to be deleted
    std::size_t outboxDropped_ = 0;        // the oldest messages dropped, not said yet
    bool outboxFailing_ = false;           // said once until it is written again
};

}  // namespace meradon::daemon
