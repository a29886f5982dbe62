// The JSON payloads of the MQTT bridge's topics, as docs/mqtt.md describes them. Built
// here from plain values, so that the contract is in one place and tested without a broker.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "manager/core/history/history_facts.h"
#include "manager/core/host_settings.h"
#include "manager/core/quality_values.h"

namespace meradon::daemon {

// ISO 8601 in UTC, to the second: "2026-12-08T11:57:09Z".
std::string IsoTime(std::time_t when);

struct LinkInfo {
    std::string kind;  // "udp" or "serial"
    std::string where; // ADDRESS:PORT, or the port
    std::string mode;  // "data", or "none" while the link is down
};

// <base>/bridge/info
std::string InfoPayload(const std::string &version, const LinkInfo &link,
                        const std::optional<HostSettings> &node, std::time_t readAt);

struct StationSnapshot {
    uint8_t station = 0;
    uint8_t state = 0;  // the station state bits of a signal packet or the node status
    std::optional<QualityValues> quality;
    std::optional<std::time_t> lastSeen;
};

// <base>/station/<n>
std::string StationPayload(const StationSnapshot &station);

// <base>/station/<n>/received: the file's facts, and its bytes (base64) when `data` holds
// them.
std::string ReceivedPayload(const ReceptionFact &file, const std::optional<std::string> &data);

// RFC 4648 base64, with padding.
std::string Base64(const std::string &bytes);
// Its reverse; nullopt for text that is not base64 with padding.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace meradon::daemon
