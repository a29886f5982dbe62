#include "manager/daemon/bridge_payloads.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "manager/core/app_state.h"
#include "manager/core/reception.h"

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

namespace {

// What the verdict says of the CRC-32: "ok", "bad", or "none" when it was not compared.
const char *CrcWord(const std::string &verdict) {
    if (verdict == kVerdictReceived) return "ok";
    if (verdict == kVerdictWrongContent) return "bad";
    return "none";
}

}  // namespace

std::string ReceivedPayload(const ReceptionFact &file, const std::optional<std::string> &data) {
    nlohmann::json received = {
        {"station", file.station},
        {"file", file.path},
        {"size", file.size},
        {"announced_size", file.announcedSize ? nlohmann::json(*file.announcedSize) : nlohmann::json(nullptr)},
        {"crc", CrcWord(file.verdict)},
        {"verdict", file.verdict},
        {"started", IsoTime(EpochSeconds(file.start))},
        {"ended", IsoTime(EpochSeconds(file.end))},
    };
    if (data) received["data"] = Base64(*data);
    return received.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Base64(const std::string &bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k) text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return text;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        int padding = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int value = -1;
            if (c >= 'A' && c <= 'Z') value = c - 'A';
            else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
            else if (c >= '0' && c <= '9') value = c - '0' + 52;
            else if (c == '+') value = 62;
            else if (c == '/') value = 63;
            // Padding only at the end of the last group, at most two.
            if (c == '=' && i + 4 == text.size() && k >= 2 && (k == 3 || text[i + 3] == '=')) {
                ++padding;
                value = 0;
            }
            if (value < 0 || (padding && c != '=')) return std::nullopt;
            group = group << 6 | static_cast<uint32_t>(value);
        }
        for (int k = 0; k < 3 - padding; ++k) bytes += static_cast<char>(group >> (16 - 8 * k) & 0xFF);
    }
    return bytes;
}

}  // namespace meradon::daemon
