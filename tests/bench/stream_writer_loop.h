// The library's stream writer loop, the yardstick of every sending figure: the fastest a
// caller of the library alone can push a stream through the link to one station.
// link_bench prints it; manager_bench runs it in the same run as the manager's own
// sending, on the same kind of link, and prints the manager's rate against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sim/host_sim.h"

namespace bench {

constexpr uint32_t kLineRate = 115200;

// A hostsim on UDP at 127.0.0.1, or on a pty paced at kLineRate, and the library's shell
// opened to it with hand-shake off; null when the shell does not open.
std::unique_ptr<hostsim::HostSim> OpenShellToHostSim(bool udp);

struct StreamRate {
    std::size_t bytes = 0;
    std::size_t frames = 0;
    double bytesPerSecond = 0;
};

// Writes `size` bytes to `station` as the library's callers do (wait until writable, write
// as much as the node has room for) and waits until the last frame is acknowledged.
StreamRate RunStreamWriterLoop(hostsim::HostSim &sim, std::size_t size, uint8_t station);

// Bytes a second of stop and wait at kLineRate: each 200-byte chunk crosses the line in its
// frame, then the status report that acknowledges it comes back; ten bits a byte.
double StopAndWaitLimit();

}  // namespace bench
