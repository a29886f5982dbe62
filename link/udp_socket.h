// The UDP transport: one frame per datagram, to and from the host node's address and port.
#pragma once

#include <cstdint>

namespace tevrolink {

// Creates the shell's socket towards `remoteAddress`:`remotePort`; 1 on success, 0 on
// failure (see OpenNETShell in the public header for the rules).
int OpenUdpSocket(const char *localAddress, const char *remoteAddress, uint16_t localPort,
                  uint16_t remotePort);

}  // namespace tevrolink
