#include "link/commands.h"

#include <cstring>
#include <ctime>

#include "link/frame.h"
#include "link/streams.h"
#include "link/transaction.h"

namespace tevrolink {
namespace {

enum CommandCode : uint8_t {
    kClearOutput = 0x06,
    kMediaInfo = 0x07,
    kSetPointX1 = 0x12,
    kGetPointX1 = 0x13,
    kSetHostId = 0x14,
    kGetHostId = 0x15,
    kActivate = 0x16,
    kDeactivate = 0x17,
    kActiveList = 0x18,
    kNodeStatus = 0x19,
    kSetPeer = 0x1A,
    kGetPeer = 0x1B,
    kStop = 0x22,
    kQueryNode = 0x23,
    kSetClock = 0x24,
    kMonitor = 0x25,
    kNetCenter = 0x26,
    kSetPointX2 = 0x32,
    kGetPointX2 = 0x33,
    kSetHandShake = 0x34,
    kGetHandShake = 0x35,
    kSetBaud = 0x38,
    kSearchNetwork = 0x39,
    kSetPower = 0x3A,
    kGetPower = 0x3B,
    kFirmware = 0x70,
    kSetOutput = 0x71,
};

constexpr uint8_t kPowerMask = 0x07;
constexpr uint8_t kOutputPayload = 9;

uint8_t Low(int v) { return static_cast<uint8_t>(v & 0xFF); }

void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A command with an optional one-byte argument whose reply's first payload byte is the
// value now in force.
int ByteCommand(uint8_t code, const uint8_t *arg, uint8_t *out, uint8_t mask = 0xFF) {
    uint8_t reply[kFrameSize];
    if (!Command(code, arg, arg ? 1 : 0, reply)) return 0;
    if (out) *out = reply[kPayload] & mask;
    return 1;
}

int SetByte(uint8_t code, int value, uint8_t *out, uint8_t mask = 0xFF) {
    const uint8_t arg = Low(value);
    return ByteCommand(code, &arg, out, mask);
}

int Acknowledged(uint8_t code, const uint8_t *payload, uint8_t size, uint8_t node = 0) {
    uint8_t reply[kFrameSize];
    return Command(code, payload, size, reply, node) ? 1 : 0;
}

void OutputPayload(uint8_t *p, int device, uint32_t first, uint32_t second) {
    p[0] = Low(device);
    PutLe32(p + 1, first);
    PutLe32(p + 5, second);
}

// A command for a station travels inside a stream frame as a sealed 17-byte frame.
int StationCommand(uint8_t code, int station, int device, uint32_t first, uint32_t second) {
    uint8_t inner[kFrameSize] = {};
    inner[kCode] = code;
    inner[kLength] = kOutputPayload;
    OutputPayload(inner + kPayload, device, first, second);
    SealLinkFrame(inner);
    constexpr uint8_t kEmbeddedCommand = 2;
    return WriteStreamToShell(inner, static_cast<uint32_t>(FrameWireSize(inner)), station,
                              kEmbeddedCommand, 0);
}

// Copies a reply payload of n bytes when it fits the caller's capacity.
int CopyIfFits(const uint8_t *reply, uint8_t *dest, int capacity, uint8_t *length) {
    const uint8_t n = reply[kLength];
    if (capacity < n) return kTransactCapacityExceeded;
    if (length) *length = n;
    if (dest) std::memcpy(dest, reply + kPayload, n);
    return 1;
}

}  // namespace

void StationBitmap(const uint8_t *stations, int count, uint8_t *bitmap) {
    std::memset(bitmap, 0, kStationBitmapSize);
    const int n = count & 0xFF;
    for (int i = 0; stations && i < n; ++i)
        bitmap[stations[i] / 8] |= static_cast<uint8_t>(1u << (stations[i] % 8));
}

uint8_t BaudCode(uint32_t baudRate) {
    switch (baudRate) {
    case 110: return 0x01;
    case 300: return 0x02;
    case 600: return 0x04;
    case 1200: return 0x11;
    case 2400: return 0x12;
    case 4800: return 0x14;
    case 9600: return 0x18;
    case 14400: return 0x21;
    case 19200: return 0x22;
    case 38400: return 0x24;
    case 56000: return 0x27;
    case 57600: return 0x28;
    case 115200: return 0x41;
    case 128000: return 0x42;
    case 256000: return 0x44;
    default: return 0x22;
    }
}

int SetHostNodeID(int id, uint8_t *out) { return SetByte(kSetHostId, id, out); }

int GetHostNodeID(uint8_t *id, uint8_t *role) {
    uint8_t reply[kFrameSize];
    if (!Command(kGetHostId, nullptr, 0, reply)) return 0;
    if (id) *id = reply[kPayload];
    if (role) *role = reply[kPayload + 1];
    return 1;
}

int SetPeerNodeID(int id, uint8_t *out) { return SetByte(kSetPeer, id, out); }
int GetPeerNodeID(uint8_t *out) { return ByteCommand(kGetPeer, nullptr, out); }
int SetFrequencyPointX1(int point, uint8_t *out) { return SetByte(kSetPointX1, point, out); }
int GetFrequencyPointX1(uint8_t *out) { return ByteCommand(kGetPointX1, nullptr, out); }
int SetFrequencyPointX2(int point, uint8_t *out) { return SetByte(kSetPointX2, point, out); }
int GetFrequencyPointX2(uint8_t *out) { return ByteCommand(kGetPointX2, nullptr, out); }
int SetWirelessPower(int level, uint8_t *out) { return SetByte(kSetPower, level, out, kPowerMask); }
int GetWirelessPower(uint8_t *out) { return ByteCommand(kGetPower, nullptr, out, kPowerMask); }
int SetShellHandShake(int onOff) { return SetByte(kSetHandShake, onOff, nullptr); }
int GetShellHandShake(uint8_t *out) { return ByteCommand(kGetHandShake, nullptr, out); }

int SetDeviceBaudRate(uint32_t baudRate) {
    const uint8_t code = BaudCode(baudRate);
    return Acknowledged(kSetBaud, &code, 1);
}

int SetNodeActive(const uint8_t *stations, int count) {
    uint8_t bitmap[kStationBitmapSize];
    StationBitmap(stations, count, bitmap);
    return Acknowledged(kActivate, bitmap, kStationBitmapSize);
}

int SetNodeInactive(const uint8_t *stations, int count) {
    uint8_t bitmap[kStationBitmapSize];
    StationBitmap(stations, count, bitmap);
    return Acknowledged(kDeactivate, bitmap, kStationBitmapSize);
}

int GetActiveNodeList(uint8_t *dest, int capacity, uint8_t *count) {
    uint8_t reply[kFrameSize];
    if (!Command(kActiveList, nullptr, 0, reply)) return 0;
    uint8_t list[255];
    int n = 0;
    for (int station = 1; station <= 255; ++station)
        if (reply[kPayload + station / 8] & (1u << (station % 8))) list[n++] = static_cast<uint8_t>(station);
    if (capacity < n) return kTransactCapacityExceeded;
    if (count) *count = static_cast<uint8_t>(n);
    if (dest) std::memcpy(dest, list, static_cast<std::size_t>(n));
    return 1;
}

int GetNetworkNodeStatus(uint8_t *dest, int capacity, uint8_t *length) {
    uint8_t reply[kFrameSize];
    if (!Command(kNodeStatus, nullptr, 0, reply)) return 0;
    return CopyIfFits(reply, dest, capacity, length);
}

int QueryNodeStatus(int station, uint8_t *out) { return SetByte(kQueryNode, station, out); }

int SearchZelkoraNetwork(uint8_t *inOut) {
    if (!inOut) return 0;
    const uint8_t arg = *inOut ? 1 : 0;
    return ByteCommand(kSearchNetwork, &arg, inOut);
}

int GetFirmwareVersion(uint8_t *dest, int capacity) {
    uint8_t reply[kFrameSize];
    if (!Command(kFirmware, nullptr, 0, reply)) return 0;
    return CopyIfFits(reply, dest, capacity, nullptr);
}

int GetHostMediaInfo(int device, uint16_t *first, uint16_t *second) {
    const uint8_t arg = Low(device);
    uint8_t reply[kFrameSize];
    if (!Command(kMediaInfo, &arg, 1, reply)) return 0;
    const uint8_t *p = reply + kPayload;
    if (first) *first = static_cast<uint16_t>(p[0] + 256 * p[1]);
    if (second) *second = static_cast<uint16_t>(p[2] + 256 * p[3]);
    return 1;
}

int SetHostRTCTimer() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int year = local.tm_year + 1900;
    const uint8_t clock[7] = {
        Low(local.tm_sec),  Low(local.tm_min),     Low(local.tm_hour), Low(local.tm_mday),
        Low(local.tm_wday), Low(local.tm_mon + 1), Low((year & 0xFF) + 48),
    };
    return Acknowledged(kSetClock, clock, sizeof clock);
}

int StartNetCenter(int mode) {
    const uint8_t arg = mode == 0 ? 1 : 0;
    return Acknowledged(kNetCenter, &arg, 1);
}

int StartMonitorService(int onOff) {
    const uint8_t arg = Low(onOff);
    return Acknowledged(kMonitor, &arg, 1);
}

int StopHost() {
    uint8_t request[kFrameSize] = {};
    request[kCode] = kStop;
    return TransactFrame(request, nullptr, 0);
}

int SetHostNodeOutputFile(int device, uint32_t setting, uint32_t start) {
    uint8_t payload[kOutputPayload];
    OutputPayload(payload, device, setting, start);
    return Acknowledged(kSetOutput, payload, kOutputPayload, kHostNode);
}

int ClearHostNodeOutputFile(int device, uint32_t start, uint32_t size) {
    uint8_t payload[kOutputPayload];
    OutputPayload(payload, device, start, size);
    return Acknowledged(kClearOutput, payload, kOutputPayload, kHostNode);
}

int SetPeerNodeOutputFile(int station, int device, uint32_t setting, uint32_t start) {
    return StationCommand(kSetOutput, station, device, setting, start);
}

int ClearPeerNodeOutputFile(int station, int device, uint32_t start, uint32_t size) {
    return StationCommand(kClearOutput, station, device, start, size);
}

}  // namespace tevrolink
