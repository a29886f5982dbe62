#include "cli/link_open.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "cli/errors.h"
#include "cli/values.h"
#include "tevrolink/tevrolink.h"

namespace cli {

namespace {

constexpr uint8_t kLinkReady = 1;

std::string GroupOwning(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    if (const group *g = ::getgrgid(st.st_gid)) return g->gr_name;
    return std::to_string(st.st_gid);
}

uint16_t ParsePort(const std::string &text, const std::string &what) {
    return static_cast<uint16_t>(ParseNumber(text, 1, 65535, what));
}

}  // namespace

std::string LinkOptions::Describe() const {
    if (kind == Kind::kSerial) return SerialDevicePath(port) + " at " + std::to_string(baud) + " bit/s";
    return "UDP " + address + ":" + std::to_string(remotePort);
}

LinkOptions ParseLinkOptions(const Arguments &args) {
    LinkOptions o;
    const auto port = args.Value("--port");
    const auto udp = args.Value("--udp");
    if (port && udp) throw UsageError("give either --port or --udp, not both");
    if (!port && !udp) throw UsageError("no link given: use --port PATH for a serial port or --udp ADDRESS for the network");
    o.handShake = args.Has("--handshake");
    if (port) {
        if (args.Has("--local-port") || args.Has("--local-addr"))
            throw UsageError("--local-port and --local-addr belong to --udp, not to --port");
        if (port->empty()) throw UsageError("--port needs a serial port name or path");
        o.kind = LinkOptions::Kind::kSerial;
        o.port = *port;
        if (const auto baud = args.Value("--baud"))
            o.baud = ParseNumber(*baud, 50, 4000000, "the baud rate (--baud)");
        return o;
    }
    if (args.Has("--baud")) throw UsageError("--baud belongs to --port, not to --udp");
    o.kind = LinkOptions::Kind::kUdp;
    std::string address = *udp;
    if (const auto colon = address.find(':'); colon != std::string::npos) {
        o.remotePort = ParsePort(address.substr(colon + 1), "the remote UDP port");
        address.resize(colon);
    }
    Ipv4 octets{};
    if (!ParseIpv4(address, octets))
        throw UsageError("--udp wants the host node's IPv4 address as ADDRESS[:PORT], not \"" + *udp + "\"");
    if (octets == Ipv4{0, 0, 0, 0} || octets == Ipv4{255, 255, 255, 255})
        throw UsageError("--udp wants the address of one host node, not " + address);
    o.address = address;
    if (const auto local = args.Value("--local-port")) o.localPort = ParsePort(*local, "the local UDP port (--local-port)");
    if (const auto local = args.Value("--local-addr")) {
        if (!ParseIpv4(*local, octets))
            throw UsageError("--local-addr wants an IPv4 address of this machine, not \"" + *local + "\"");
        o.localAddress = *local;
    }
    return o;
}

std::string SerialDevicePath(const std::string &name) {
    return !name.empty() && name[0] == '/' ? name : "/dev/" + name;
}

std::string SerialOpenError(const std::string &name, int error) {
    const std::string path = SerialDevicePath(name);
    const std::string head = "cannot open serial port " + path + ": ";
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return head + "it is missing (no such device; see tevrolink ports)";
    case EBUSY:
        return head + "it is busy, held by another program";
    case EACCES:
    case EPERM: {
        const std::string group = GroupOwning(path);
        if (group.empty() || group == "root") return head + "permission denied";
        return head + "permission denied; join the group " + group + " that owns it and log in again";
    }
    case ENOTTY:
    case EINVAL:
        return head + "it is not a serial port, or the driver refuses the line settings";
    default:
        return head + std::strerror(error);
    }
}

LinkSession::LinkSession(const LinkOptions &options) : options_(options) {
    errno = 0;
    if (options.kind == LinkOptions::Kind::kSerial) {
        if (!OpenCOMShell(options.port.c_str(), options.baud))
            throw Failure(SerialOpenError(options.port, errno ? errno : ENOENT));
    } else {
        const char *local = options.localAddress.empty() ? nullptr : options.localAddress.c_str();
        if (!OpenNETShell(local, options.address.c_str(), options.localPort, options.remotePort)) {
            const int err = errno;
            const std::string where = (options.localAddress.empty() ? std::string("") : options.localAddress + ":") +
                                      std::to_string(options.localPort);
            if (err == EADDRINUSE)
                throw Failure("cannot use local UDP port " + where +
                              ": it is in use by another program (choose another with --local-port)");
            if (err == EADDRNOTAVAIL)
                throw Failure("cannot use local address " + options.localAddress +
                              ": it is not an address of this machine");
            throw Failure("cannot open the UDP link on local port " + where + ": " +
                          std::strerror(err ? err : EINVAL));
        }
    }
    SetHostHandShake(options.handShake ? 1 : 0);
}

LinkSession::~LinkSession() { CloseShell(); }

void LinkSession::WaitUntilReady(int timeoutMs) const {
    if (!options_.handShake) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint8_t state = 0;
        IsShellReadable(&state, nullptr);
        if (state == kLinkReady) return;
        if (std::chrono::steady_clock::now() >= deadline)
            throw Failure("the host node did not take up retransmission support (no sync reply)");
        // The library offers no descriptor to wait on; a short pause keeps this loop cheap.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void Require(int result, const std::string &what) {
    if (result != 0) return;
    // A serial line that hung up closes the shell: that, not the node, is the news.
    if (!IsShellActive()) throw Failure("the line to the host node went away during " + what + ": is the adapter plugged in?");
    throw Failure("the host node did not answer " + what);
}

}  // namespace cli
