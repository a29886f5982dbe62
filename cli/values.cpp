#include "cli/values.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "cli/errors.h"
#include "setup/baud_search.h"

namespace cli {

const char kStationRangeMessage[] = "输入无效,有效的节点号码是 1-254";
const char kPointRangeMessage[] = "输入越界,有效的工作频点在0-16";

const std::array<const char *, kPowerLevels> kPowerTexts = {
    "+10 dBm", "+07 dBm", "+05 dBm", "+00 dBm", "- 05 dBm", "- 10 dBm", "- 15 dBm", "- 20 dBm"};
const std::array<int, kPowerLevels> kPowerDbm = {10, 7, 5, 0, -5, -10, -15, -20};

namespace {

bool AllDigits(const std::string &text) {
    return !text.empty() && text.size() <= 10 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool ToNumber(const std::string &text, uint32_t low, uint32_t high, uint32_t &out) {
    if (!AllDigits(text)) return false;
    const unsigned long long v = std::stoull(text);
    if (v < low || v > high) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

uint32_t ParseNumber(const std::string &text, uint32_t low, uint32_t high, const std::string &what) {
    uint32_t v = 0;
    if (!ToNumber(text, low, high, v))
        throw UsageError(what + " must be a number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    return v;
}

uint8_t ParseStation(const std::string &text) {
    uint32_t v = 0;
    if (!ToNumber(text, 1, 254, v)) throw UsageError(kStationRangeMessage);
    return static_cast<uint8_t>(v);
}

uint8_t ParsePoint(const std::string &text) {
    uint32_t v = 0;
    if (!ToNumber(text, 0, 16, v)) throw UsageError(kPointRangeMessage);
    return static_cast<uint8_t>(v);
}

uint8_t ParsePower(const std::string &text) {
    std::string t = Lower(text);
    t.erase(std::remove(t.begin(), t.end(), ' '), t.end());
    uint32_t value = 0;
    if (t.rfind("level", 0) == 0) {
        if (ToNumber(t.substr(5), 0, kPowerLevels - 1, value)) return static_cast<uint8_t>(value);
    } else {
        // A power in dBm: a sign, or the unit, or both ("-5", "0 dBm", "+07 dBm").
        const bool unit = t.size() > 3 && t.compare(t.size() - 3, 3, "dbm") == 0;
        if (unit) t.resize(t.size() - 3);
        const bool sign = !t.empty() && (t[0] == '+' || t[0] == '-');
        if ((sign || unit) && ToNumber(t.substr(sign ? 1 : 0), 0, 99, value)) {
            const int dbm = t[0] == '-' ? -static_cast<int>(value) : static_cast<int>(value);
            for (int i = 0; i < kPowerLevels; ++i)
                if (kPowerDbm[i] == dbm) return static_cast<uint8_t>(i);
        } else if (ToNumber(t, 0, 0xFFFFFFFFu, value)) {
            // "0" was level 0 (+10 dBm) to some and 0 dBm (level 3) to others.
            throw UsageError("power \"" + text + "\" is a bare number: give it in dBm (\"-5 dBm\", \"+10\") "
                             "or as a level (\"level 4\"; level 0 is +10 dBm, level 7 is -20 dBm)");
        }
    }
    throw UsageError("power must be in dBm (+10, +7, +5, 0, -5, -10, -15 or -20 dBm) or a level "
                     "(\"level 0\" to \"level 7\"), not \"" + text + "\"");
}

bool ParseOnOff(const std::string &text, const std::string &what) {
    const std::string t = Lower(text);
    if (t == "on" || t == "1" || t == "yes") return true;
    if (t == "off" || t == "0" || t == "no") return false;
    throw UsageError(what + " must be on or off, not \"" + text + "\"");
}

uint32_t ParseDeviceBaud(const std::string &text) {
    uint32_t v = 0;
    if (AllDigits(text) && ToNumber(text, 0, 0xFFFFFFFFu, v))
        for (uint32_t rate : tevrolink::kSearchRates)
            if (rate == v) return v;
    std::string list;
    for (uint32_t rate : tevrolink::kSearchRates)
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    throw UsageError("the baud rate must be one of " + list + ", not \"" + text + "\"");
}

std::vector<uint8_t> ParseStationList(const std::string &text) {
    std::set<uint8_t> stations;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        if (dash == std::string::npos) {
            stations.insert(ParseStation(item));
        } else {
            const uint8_t first = ParseStation(item.substr(0, dash));
            const uint8_t last = ParseStation(item.substr(dash + 1));
            if (first > last)
                throw UsageError("the station range \"" + item + "\" runs backwards");
            for (unsigned n = first; n <= last; ++n) stations.insert(static_cast<uint8_t>(n));
        }
        start = comma + 1;
    }
    return std::vector<uint8_t>(stations.begin(), stations.end());
}

std::string FormatStationList(const std::vector<uint8_t> &stations) {
    std::string out;
    for (std::size_t i = 0; i < stations.size();) {
        std::size_t j = i;
        while (j + 1 < stations.size() && stations[j + 1] == stations[j] + 1) ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(stations[i]);
        if (j > i) out += (j == i + 1 ? "," : "-") + std::to_string(stations[j]);
        i = j + 1;
    }
    return out;
}

bool ParseIpv4(const std::string &text, Ipv4 &out) {
    Ipv4 v{};
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos) return false;
        const std::string digits = text.substr(start, end - start);
        uint32_t octet = 0;
        if (digits.size() > 3 || !ToNumber(digits, 0, 255, octet)) return false;
        v[part] = static_cast<uint8_t>(octet);
        start = end + 1;
    }
    out = v;
    return true;
}

std::string FormatIpv4(const uint8_t *o) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
    return text;
}

bool ParseMac(const std::string &text, Mac &out) {
    if (text.size() != 17) return false;
    Mac v{};
    for (int i = 0; i < 6; ++i) {
        const char *p = text.c_str() + i * 3;
        if (i < 5 && p[2] != '-' && p[2] != ':') return false;
        if (!std::isxdigit(static_cast<unsigned char>(p[0])) ||
            !std::isxdigit(static_cast<unsigned char>(p[1])))
            return false;
        v[i] = static_cast<uint8_t>(std::stoul(std::string(p, 2), nullptr, 16));
    }
    out = v;
    return true;
}

std::string FormatMac(const uint8_t *o) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", o[0], o[1], o[2], o[3], o[4],
                  o[5]);
    return text;
}

}  // namespace cli
