#include "link/shell.h"

#include <cstring>

#include "link/clock.h"
#include "link/serial_port.h"
#include "link/shell_wait.h"
#include "link/udp_socket.h"

namespace tevrolink {

void ShellPort::ResetReceive() {
    std::memset(rxBuffer, 0, sizeof rxBuffer);
    rxState = kRxReset;
    rxFill = 0;
}

Shell &TheShell() {
    // Created when the library is loaded; its destructor closes an open link at unload.
    static Shell shell;
    return shell;
}

void WriteFrame(ShellPort &port, uint8_t *frame) {
    if (!port.link) return;
    SealLinkFrame(frame);
    port.link->SendFrame(frame, FrameWireSize(frame));
}

void SendControlFrame(uint8_t code, uint8_t seq) {
    uint8_t frame[kFrameSize] = {};
    frame[kCode] = code;
    frame[kSeq] = seq;
    WriteFrame(TheShell().port, frame);
}

namespace {

void DropLink(ShellPort &port) {
    WaitUntilLinkUnwatched();
    port.link.reset();
    port.ResetReceive();
}

}  // namespace

bool CloseHungUpShell() {
    ShellPort &port = TheShell().port;
    if (!port.link || !port.link->HungUp()) return false;
    DropLink(port);
    return true;
}

int OpenCOMShell(const char *deviceName, uint32_t baudRate) {
    Shell &shell = TheShell();
    shell.port.linkKind = kLinkSerial;
    std::unique_ptr<Transport> link = OpenSerialPort(deviceName, baudRate);
    if (!link) return 0;
    // An open link is replaced rather than leaked.
    WaitUntilLinkUnwatched();
    shell.port.link = std::move(link);
    WakeShellWaiters();  // a waiter watches the descriptor of the link it saw
    shell.linkState = kLinkUnsynced;
    shell.txSeq = 255;
    shell.rxSeq = 255;
    shell.lastActivity = MonotonicMs();
    shell.port.ResetReceive();
    return 1;
}

int OpenNETShell(const char *localAddress, const char *remoteAddress, uint16_t localPort,
                 uint16_t remotePort) {
    TheShell().port.linkKind = kLinkUdp;
    return OpenUdpSocket(localAddress, remoteAddress, localPort, remotePort);
}

int CloseShell() {
    DropLink(TheShell().port);
    WakeShellWaiters();  // a waiter with nothing to watch sleeps on the wake alone
    return 0;
}

int IsShellActive() { return TheShell().IsOpen() ? 1 : 0; }

void SetHostHandShake(uint32_t onOff) {
    Shell &shell = TheShell();
    shell.handShake = static_cast<uint8_t>(onOff & 0xFFu);
    shell.linkState = shell.handShake ? kLinkUnsynced : kLinkReady;
    WakeShellWaiters();  // the link keeper's deadline has changed
}

int CopyShell(uint8_t *frame) {
    if (frame) std::memcpy(frame, TheShell().port.rxFrame, kFrameSize);
    return 1;
}

}  // namespace tevrolink
