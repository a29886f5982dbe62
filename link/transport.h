// The two kinds of link to the host node, serial port and UDP socket, behind one interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tevrolink {

struct ShellPort;

class Transport {
public:
    virtual ~Transport() = default;
    Transport() = default;
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    virtual int Descriptor() const = 0;
    // Puts one sealed frame of `size` bytes on the link; write failures are not reported
    // (a lost frame shows up as a missing reply or acknowledgement).
    virtual void SendFrame(const uint8_t *frame, std::size_t size) = 0;
    // One reception step into the port's receive buffer; never waits. True when a complete
    // frame with a valid CRC lies in the receive buffer.
    virtual bool PollFrame(ShellPort &port) = 0;
    // Sleeps until the next reception step may make progress, or `timeoutMs` has passed.
    virtual void WaitForInput(const ShellPort &port, int timeoutMs) = 0;
    // How long the next reception step is sure to make no progress: 0 when it can make
    // some now, -1 until the descriptor becomes readable, else that many microseconds.
    virtual long InputDelayUs(const ShellPort &port) = 0;
    // True once the line is gone for good (a USB adapter pulled out, the far end of a pty
    // closed): nothing will pass on it again. A UDP socket cannot tell; its peer just
    // falls silent.
    virtual bool HungUp() const { return false; }
};

}  // namespace tevrolink
