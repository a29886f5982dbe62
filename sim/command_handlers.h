// The host node's command set: one request frame in, one reply frame (code + 0x80) out,
// acting on the persistent state of the node.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/host_model.h"
#include "sim/wire.h"

namespace hostsim {

enum CommandCode : uint8_t {
    kCmdClearOutput = 0x06,
    kCmdMediaInfo = 0x07,
    kCmdSetPointX1 = 0x12,
    kCmdGetPointX1 = 0x13,
    kCmdSetNodeId = 0x14,
    kCmdGetNodeId = 0x15,
    kCmdSetActive = 0x16,
    kCmdSetInactive = 0x17,
    kCmdActiveList = 0x18,
    kCmdNetworkStatus = 0x19,
    kCmdSetPeer = 0x1A,
    kCmdGetPeer = 0x1B,
    kCmdStopHost = 0x22,
    kCmdQueryNode = 0x23,
    kCmdSetClock = 0x24,
    kCmdMonitor = 0x25,
    kCmdNetCenter = 0x26,
    kCmdSetPointX2 = 0x32,
    kCmdGetPointX2 = 0x33,
    kCmdSetHandShake = 0x34,
    kCmdGetHandShake = 0x35,
    kCmdSetBaud = 0x38,
    kCmdSearch = 0x39,
    kCmdSetPower = 0x3A,
    kCmdGetPower = 0x3B,
    kCmdFirmware = 0x70,
    kCmdSelectOutput = 0x71,
};

constexpr uint8_t kReplyBit = 0x80;
constexpr uint8_t kHighestPoint = 16;

struct CommandReply {
    uint8_t code = 0;
    Bytes payload;
};

// What a command asks of the node beyond its state (things that take time).
struct CommandEffects {
    bool startSearch = false;
    bool stopSearch = false;
};

bool IsCommand(uint8_t code);
// The reply to command frame `frame`; nullopt for a command that has none (StopHost).
std::optional<CommandReply> HandleCommand(HostModel &model, const Bytes &frame,
                                          CommandEffects &effects);

}  // namespace hostsim
