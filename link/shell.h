// The process-wide shell: the one link to the host node and its protocol state.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>

#include "link/frame.h"
#include "link/transport.h"

namespace tevrolink {

constexpr uint8_t kLinkSerial = 0x00;
constexpr uint8_t kLinkUdp = 0x80;

// Link states.
constexpr uint8_t kLinkUnsynced = 0;
constexpr uint8_t kLinkReady = 1;
constexpr uint8_t kLinkAwaitingAck = 2;

// Receive states.
enum RxState : uint8_t {
    kRxReset = 0,
    kRxHunting = 1,
    kRxSynced = 2,
    kRxHeader = 4,
    kRxComplete = 8,
};

constexpr std::size_t kStatusSize = 32;

struct ShellPort {
    std::unique_ptr<Transport> link;  // null while the shell is closed
    uint8_t resendCount = 0;
    uint8_t rxState = kRxReset;
    uint16_t rxFill = 0;  // bytes of a serial frame read into rxBuffer so far
    uint8_t linkKind = kLinkSerial;
    sockaddr_in peerAddress{};
    // Broadcast mode: the address of the one adapter that broadcasts leave from, or
    // INADDR_ANY for every adapter (network order).
    in_addr_t broadcastSource = 0;
    unsigned arrivalAdapter = 0;  // interface index of the last datagram ReadSocketPacket took
    uint8_t rxBuffer[kReceiveBufferSize] = {};
    uint8_t *const rxFrame = rxBuffer;  // the first 248 bytes are the receive frame record

    void ResetReceive();
};

struct Shell {
    uint32_t statusFresh = 0;
    uint8_t statusBlock[kStatusSize] = {};
    ShellPort port;
    uint8_t txSeq = 255;
    uint8_t rxSeq = 255;
    uint8_t handShake = 0;
    uint8_t linkState = kLinkUnsynced;
    int64_t lastActivity = 0;  // monotonic milliseconds
    uint8_t pendingFrame[kFrameSize] = {};

    bool IsOpen() const { return port.link != nullptr; }
};

Shell &TheShell();

// Seals `frame` and puts it on the link; nothing is sent while the shell is closed.
void WriteFrame(ShellPort &port, uint8_t *frame);
// Builds, seals and sends a link-control frame of the given code and sequence number.
void SendControlFrame(uint8_t code, uint8_t seq);
// Closes the shell when its line has hung up, so that every caller gets the closed-shell
// result instead of waiting on a line that will never answer. True when it did.
bool CloseHungUpShell();

int OpenCOMShell(const char *deviceName, uint32_t baudRate);
int OpenNETShell(const char *localAddress, const char *remoteAddress, uint16_t localPort,
                 uint16_t remotePort);
int CloseShell();
int IsShellActive();
void SetHostHandShake(uint32_t onOff);
int CopyShell(uint8_t *frame);

}  // namespace tevrolink
