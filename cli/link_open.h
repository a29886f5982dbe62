// Choosing the link to the host node from the options and opening it, with an error that
// says why a port could not be opened.
#pragma once

#include <cstdint>
#include <string>

#include "cli/arguments.h"

namespace cli {

constexpr uint32_t kDefaultBaud = 19200;
constexpr uint16_t kDefaultRemotePort = 12580;
constexpr uint16_t kDefaultLocalPort = 10086;

struct LinkOptions {
    enum class Kind { kSerial, kUdp } kind = Kind::kSerial;
    std::string port;  // serial: a path, or a name under /dev
    uint32_t baud = kDefaultBaud;
    std::string address;  // UDP: the host node's address
    uint16_t remotePort = kDefaultRemotePort;
    uint16_t localPort = kDefaultLocalPort;
    std::string localAddress;  // empty: any
    bool handShake = false;

    std::string Describe() const;  // "/dev/ttyUSB0 at 19200 bit/s", "UDP 10.0.0.7:12580"
};

// Validates the link options; exactly one of --port and --udp. Throws UsageError.
LinkOptions ParseLinkOptions(const Arguments &args);

// The device path a serial port name stands for (as the library opens it).
std::string SerialDevicePath(const std::string &name);

// One sentence on why the serial port `name` could not be opened with `error` (an errno):
// missing, busy, or a permission that membership of the owning group would give.
std::string SerialOpenError(const std::string &name, int error);

// The open link; closed again when it goes out of scope.
class LinkSession {
public:
    explicit LinkSession(const LinkOptions &options);  // throws Failure
    ~LinkSession();
    LinkSession(const LinkSession &) = delete;
    LinkSession &operator=(const LinkSession &) = delete;

    const LinkOptions &Options() const { return options_; }

    // With retransmission support on, polls until the sync exchange with the host node
    // has made the link ready; throws Failure after `timeoutMs`. Without it, returns.
    void WaitUntilReady(int timeoutMs = 3000) const;

private:
    LinkOptions options_;
};

// Throws Failure naming `what` when a host-node command returned 0: no answer, or the
// serial line went away meanwhile.
void Require(int result, const std::string &what);

}  // namespace cli
