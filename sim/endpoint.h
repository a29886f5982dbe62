// The host node's side of the link: a UDP socket or a pseudo-terminal, behind one interface
// so that the node itself does not care which one the PC uses.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/wire.h"

namespace hostsim {

// A frame as it arrived; `crcOk` is false for a datagram that failed the frame check,
// `wrongSpeed` is set for one heard while the line ran at another speed than the node's.
struct IncomingFrame {
    Bytes bytes;
    bool crcOk = true;
    bool wrongSpeed = false;
};

class Endpoint {
public:
    virtual ~Endpoint() = default;
    Endpoint() = default;
    Endpoint(const Endpoint &) = delete;
    Endpoint &operator=(const Endpoint &) = delete;

    // Descriptor to wait on for input (and output, while WantsWrite()).
    virtual int Descriptor() const = 0;
    virtual bool WantsWrite() const { return false; }
    // A moment at which ReadFrames or FlushWrites has work even without a descriptor event
    // (paced output, a stale partial frame); Clock::time_point::max() when there is none.
    virtual Clock::time_point NextDue() const { return Clock::time_point::max(); }
    // Takes in everything that is waiting, never blocking.
    virtual void ReadFrames(std::vector<IncomingFrame> &out) = 0;
    // Continues writing bytes that the descriptor did not take earlier.
    virtual void FlushWrites() {}
    // Puts one frame on the link; it may be queued when the line is full.
    virtual void Send(const Bytes &frame) = 0;
    // False while the line would garble what passes (a pty set to another speed).
    virtual bool Answering() { return true; }
    // Where the PC finds this end: "127.0.0.1:40123" or the pty slave path.
    virtual std::string Describe() const = 0;
};

}  // namespace hostsim
