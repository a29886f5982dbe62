// UDP end of the link: one frame per datagram. The node answers whoever sent the last
// frame, as a real network-attached node does, unless a peer was set beforehand.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/endpoint.h"

namespace hostsim {

class UdpEndpoint final : public Endpoint {
public:
    // Binds to `address`:`port` (port 0 = ephemeral). Throws std::system_error on failure.
    UdpEndpoint(const std::string &address, uint16_t port);
    ~UdpEndpoint() override;

    int Descriptor() const override { return fd_; }
    void ReadFrames(std::vector<IncomingFrame> &out) override;
    void Send(const Bytes &frame) override;
    std::string Describe() const override;

    uint16_t Port() const;
    sockaddr_in Local() const { return local_; }
    // Sets where frames go before (and until) the PC sends something.
    void SetPeer(const sockaddr_in &peer) { peer_ = peer; }
    std::optional<sockaddr_in> Peer() const { return peer_; }

private:
    int fd_ = -1;
    sockaddr_in local_{};
    std::optional<sockaddr_in> peer_;
};

// Parses "a.b.c.d:port" (port may be 0). Returns false on malformed text.
bool ParseUdpAddress(const std::string &text, std::string &address, uint16_t &port);

}  // namespace hostsim
