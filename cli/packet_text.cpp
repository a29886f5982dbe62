#include "cli/packet_text.h"

#include <cstdio>

#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

constexpr uint8_t kCodeStatusAck = 0x9D;
constexpr uint8_t kCodeStatusAnswer = 0x9C;
constexpr uint8_t kCodeDebugShort = 0x30;

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string HexBytes(const uint8_t *data, std::size_t n) {
    std::string out;
    char pair[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        out += pair;
    }
    return out;
}

std::string Pair(uint8_t high, uint8_t low) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X-%02X", high, low);
    return text;
}

uint32_t Le32(const uint8_t *p) {
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Station state bits, as in signal packets and the station list.
std::string StateNames(uint8_t bits) {
    std::string out;
    auto add = [&](uint8_t bit, const char *name) {
        if (bits & bit) out += (out.empty() ? "" : ",") + std::string(name);
    };
    add(0x80, "active");
    add(0x40, "online");
    add(0x10, "link");
    add(0x04, "suspended");
    return out.empty() ? "none" : out;
}

std::string HostFlagNames(uint8_t flags) {
    std::string out;
    auto add = [&](uint8_t bit, const char *name) {
        if (flags & bit) out += (out.empty() ? "" : ",") + std::string(name);
    };
    add(0x80, "receiver-active");
    add(0x08, "needs-activation");
    add(0x04, "suspended");
    return out.empty() ? "none" : out;
}

std::string EventName(uint8_t event) {
    switch (event) {
    case 1: return "packet ==>";
    case 2: return "packet <=>";
    case 3: return "packet <--";
    case 4: return "data time-out";
    case 5: return "node suspended";
    case 6: return "sync-up time-out";
    case 7: return "sync-down time-out";
    case 9: return "system reboot";
    case 10: return "packet exception";
    default: return "event " + std::to_string(event);
    }
}

uint16_t ProfileWord(const uint8_t *profile, int at) {
    return static_cast<uint16_t>(profile[at] | (profile[at + 1] << 8));
}

void Num(DecodedPacket &p, const std::string &name, int64_t value) {
    p.fields.push_back({name, std::to_string(value), true});
}

void Text(DecodedPacket &p, const std::string &name, const std::string &value) {
    p.fields.push_back({name, value, false});
}

DecodedPacket DecodeData(const uint8_t *frame) {
    DecodedPacket p{"data", {}};
    uint8_t kind = 0, station = 0, length = 0;
    IsValidDataPacket(frame, &kind);
    const uint8_t *payload = GetDataPacketProfile(frame, &station, &length);
    Num(p, "station", station);
    Text(p, "kind", kind == 1 ? "file" : kind == 2 ? "command" : std::to_string(kind));
    std::string flags;
    if (IsDataPacketInfo(frame)) flags += "info";
    if (IsDataPacketHead(frame)) flags += (flags.empty() ? "" : ",") + std::string("first");
    if (IsDataPacketTail(frame)) flags += (flags.empty() ? "" : ",") + std::string("last");
    Text(p, "flags", flags.empty() ? "none" : flags);
    Num(p, "length", length);
    if (kind == 1 && IsDataPacketInfo(frame) && length >= 8) {
        Num(p, "file_size", Le32(payload));
        char crc[12];
        std::snprintf(crc, sizeof crc, "0x%08X", Le32(payload + 4));
        Text(p, "file_crc", crc);
    }
    Text(p, "bytes", HexBytes(payload, length));
    return p;
}

DecodedPacket DecodeStatus(const uint8_t *frame) {
    DecodedPacket p{"status", {}};
    uint8_t profile[TEVROLINK_STATUS_SIZE] = {};
    GetStatusPacketProfile(profile);
    Text(p, "kind", frame[1] == kCodeStatusAck ? "acknowledgement" : "answer");
    Text(p, "state", Hex(profile[1]));
    Num(p, "peer", profile[2]);
    Text(p, "flags", Hex(profile[3]));
    Text(p, "flag_names", HostFlagNames(profile[3]));
    Num(p, "waiting", ProfileWord(profile, 12));
    Num(p, "credit", ProfileWord(profile, 14));
    Num(p, "buffer", ProfileWord(profile, 16));
    return p;
}

DecodedPacket DecodeDebug(uint8_t kind) {
    DecodedPacket p{"debug", {}};
    uint8_t event = 0;
    const uint8_t *d = GetDebugPacketProfile(&event);
    Num(p, "kind", kind);
    Num(p, "event", event);
    Text(p, "event_name", EventName(event));
    if (kind == 1) {
        Num(p, "station_a", d[154]);
        Num(p, "station_b", d[153]);
        Num(p, "self", d[14]);
        Text(p, "cmd", Hex(d[151]));
        Text(p, "pktid", Hex(d[150]));
        Text(p, "suit", Hex(d[156] & 0x3F));
        Text(p, "mask", Hex(d[149] & 0x0F));
        Text(p, "mode", Hex(d[156] >> 6));
        Num(p, "counter", d[13]);
        Text(p, "tx", Hex(d[15]));
        Text(p, "rx", Hex(d[16]));
        Text(p, "h_lqi", Hex(d[17]));
        Text(p, "h_rsi", Hex(d[18]));
        Text(p, "p_lqi", Hex(d[19]));
        Text(p, "p_rsi", Hex(d[20]));
    } else {
        Num(p, "station_a", d[5]);
        Num(p, "station_b", d[4]);
        Text(p, "cmd", Hex(d[2]));
        Text(p, "pktid", Hex(d[1]));
        Text(p, "suit", Hex(d[7] & 0x3F));
        Text(p, "mask", Hex(d[0] & 0x0F));
        Text(p, "mode", Hex(d[7] >> 6));
    }
    return p;
}

DecodedPacket DecodeSignal(const uint8_t *frame) {
    DecodedPacket p{"signal", {}};
    const uint8_t *s = GetSignalPacketProfile(frame);
    Text(p, "state", Hex(s[0]));
    Num(p, "station", s[1]);
    Text(p, "station_state", StateNames(s[2]));
    Text(p, "peer_quality", Pair(s[6], s[5]));
    Text(p, "own_quality", Pair(s[4], s[3]));
    if ((s[0] >> 4) == 0x9 && s[1] == 0xFF) Text(p, "note", "search ended");
    return p;
}

}  // namespace

std::string DecodedPacket::Line() const {
    std::string line = type;
    for (const PacketField &f : fields) {
        const bool quote = f.text.find(' ') != std::string::npos;
        line += " " + f.name + "=" + (quote ? "\"" + f.text + "\"" : f.text);
    }
    return line;
}

Json DecodedPacket::ToJson() const {
    Json json = {{"type", type}};
    for (const PacketField &f : fields) json[f.name] = f.number ? Json(std::stoll(f.text)) : Json(f.text);
    return json;
}

DecodedPacket DecodeReceivedPacket() {
    LinkFrameRecord frame{};
    CopyShell(frame);
    if (IsValidDataPacket(frame, nullptr)) return DecodeData(frame);
    if (frame[1] == kCodeStatusAck || frame[1] == kCodeStatusAnswer) return DecodeStatus(frame);
    uint8_t debugKind = 0;
    if (IsValidDebugPacket(&debugKind)) return DecodeDebug(debugKind == 2 || frame[1] == kCodeDebugShort ? 2 : 1);
    if (IsValidSignalPacket(frame)) return DecodeSignal(frame);
    DecodedPacket p{"other", {}};
    p.fields.push_back({"code", Hex(frame[1]), false});
    p.fields.push_back({"bytes", HexBytes(frame + TEVROLINK_FRAME_HEADER, frame[5]), false});
    return p;
}

}  // namespace cli
