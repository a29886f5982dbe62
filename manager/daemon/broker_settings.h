// Where meradond's MQTT bridge publishes, and as whom.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace meradon::daemon {

struct BrokerSettings {
    std::string url;  // empty: no bridge
    // From the URL: mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://...
    std::string host;
    uint16_t port = 1883;
    bool tls = false;

    std::string base;  // topic prefix; empty: "meradon/<host name>"
    std::string clientId;  // empty: "meradond-<host name>"
    std::string username, password;
    std::string passwordFile;  // the password's first line, read at start
    std::string caFile, certFile, keyFile;
    int keepalive = 30;  // seconds
    int protocol = 4;    // 4: MQTT 3.1.1, 5: MQTT 5
    uint32_t inlineLimit = 64 * 1024;  // a received file up to this size rides in its message
    uint64_t outboxLimit = 100 * 1024 * 1024;  // bytes waiting for the broker; beyond, the oldest go
};

// Takes `url` apart into `settings`; the reason when it is no broker URL.
std::optional<std::string> ParseBrokerUrl(const std::string &url, BrokerSettings &settings);

// Why `base` cannot prefix our topics (empty, wildcards, a leading or trailing "/"), or
// nothing when it can.
std::optional<std::string> BaseTopicProblem(const std::string &base);

// "meradon/<host name>" for an empty base, and the client id likewise.
void CompleteBrokerSettings(BrokerSettings &settings);

}  // namespace meradon::daemon
