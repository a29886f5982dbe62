#include "cli/host_settings.h"

#include "cli/errors.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/values.h"
#include "setup/text_encoding.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

const char kSlavePeerMessage[] = "从节点仅能向主节点发送数据,无需指定";
const char kSlaveBroadcastMessage[] = "从节点不支持广播功能";

}  // namespace

HostSettings ReadHostSettings() {
    HostSettings settings;
    std::string failed;
    if (!meradon::ReadHostSettings(settings, failed)) Require(0, failed);
    return settings;
}

bool KnownSetting(const std::string &setting) {
    for (const char *known : {"station", "peer", "freq1", "freq2", "power", "retransmission", "baud"})
        if (setting == known) return true;
    return false;
}

SettingChange CheckSetting(const std::string &setting, const std::string &value) {
    if (!KnownSetting(setting))
        throw UsageError("there is no setting \"" + setting +
                         "\"; settings are station, peer, freq1, freq2, power, retransmission, clock and baud");
    SettingChange c{setting, 0};
    if (setting == "station") {
        c.value = ParseStation(value);
    } else if (setting == "peer") {
        c.value = value == "broadcast" ? 0 : ParseStation(value);
    } else if (setting == "freq1" || setting == "freq2") {
        c.value = ParsePoint(value);
    } else if (setting == "power") {
        c.value = ParsePower(value);
    } else if (setting == "retransmission") {
        c.value = ParseOnOff(value, "retransmission") ? 1 : 0;
    } else {
        c.value = ParseDeviceBaud(value);
    }
    return c;
}

uint32_t ApplySetting(const SettingChange &c) {
    const int value = static_cast<int>(c.value);
    uint8_t out = 0;
    if (c.setting == "station") {
        Require(SetHostNodeID(value, &out), "the new station number");
    } else if (c.setting == "peer") {
        uint8_t id = 0, role = 0;
        Require(GetHostNodeID(&id, &role), "the request for its role");
        if (role == 0) throw Failure(c.value == 0 ? kSlaveBroadcastMessage : kSlavePeerMessage);
        Require(SetPeerNodeID(value, &out), "the new peer station");
    } else if (c.setting == "freq1") {
        Require(SetFrequencyPointX1(value, &out), "the new frequency point");
    } else if (c.setting == "freq2") {
        Require(SetFrequencyPointX2(value, &out), "the new frequency point");
    } else if (c.setting == "power") {
        Require(SetWirelessPower(value, &out), "the new transmit power");
    } else if (c.setting == "retransmission") {
        Require(SetShellHandShake(value), "the retransmission setting");
        return c.value;
    } else {
        Require(SetDeviceBaudRate(c.value), "the new baud rate");
        return c.value;
    }
    return out;
}

uint32_t SettingValue(const HostSettings &s, const std::string &setting) {
    if (setting == "station") return s.station;
    if (setting == "peer") return s.peer;
    if (setting == "freq1") return s.freq1;
    if (setting == "freq2") return s.freq2;
    if (setting == "power") return s.power;
    return s.retransmission ? 1 : 0;
}

std::string DescribeSetting(const std::string &setting, uint32_t value) {
    if (setting == "peer" && value == 0) return "broadcast";
    if (setting == "power") return std::string(kPowerTexts[value & 7]) + " (level " + std::to_string(value & 7) + ")";
    if (setting == "retransmission") return value ? "on" : "off";
    return std::to_string(value);
}

Json SettingJson(const std::string &setting, uint32_t value) {
    if (setting == "power") {
        const uint32_t level = value & 7;
        return {{"level", level}, {"dbm", kPowerDbm[level]}, {"text", kPowerTexts[level]}};
    }
    if (setting == "retransmission") return value != 0;
    if (setting == "peer" && value == 0) return "broadcast";
    return value;
}

}  // namespace cli
