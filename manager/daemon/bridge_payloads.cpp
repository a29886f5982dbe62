#include "manager/daemon/bridge_payloads.h"

#include <nlohmann/json.hpp>

#include "manager/core/app_state.h"

namespace meradon::daemon {

std::string IsoTime(std::time_t when) {
    std::tm utc {};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string InfoPayload(const std::string &version, const LinkInfo &link,
                        const std::optional<HostSettings> &node, std::time_t readAt) {
    nlohmann::json info = {
        {"version", version},
        {"link", {{"kind", link.kind}, {"address", link.where}, {"mode", link.mode}}},
    };
    if (node) {
        info["host"] = {
            {"station", node->station},
            {"role", node->master ? "master" : "slave"},
            {"receiver", node->peer},
            {"broadcast", node->peer == 0},
            {"freq1", node->freq1},
            {"freq2", node->freq2},
            {"power_level", node->power},
            {"retransmission", node->retransmission},
            {"firmware", node->firmware},
            {"read_at", IsoTime(readAt)},
        };
    } else {
        info["host"] = nullptr;
    }
    return info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string StationPayload(const StationSnapshot &s) {
    nlohmann::json station = {
        {"station", s.station},
        {"active", (s.state & STATION_ACTIVE) != 0},
        {"online", (s.state & STATION_ONLINE) != 0},
        {"link", (s.state & STATION_LINK) != 0},
        {"suspended", (s.state & STATION_SUSPENDED) != 0},
    };
    for (int i = 0; i < 4; ++i)
        station[kQualityNames[i]] = s.quality ? nlohmann::json((*s.quality)[i]) : nlohmann::json(nullptr);
    station["last_seen"] = s.lastSeen ? nlohmann::json(IsoTime(*s.lastSeen)) : nlohmann::json(nullptr);
    return station.dump();
}

}  // namespace meradon::daemon
