// Capturing what crosses the link as a pcap file that the packet analyser decodes with our
// dissector (tools/wireshark/tevrolink.lua). Every frame is written as one IPv4/UDP
// datagram: over UDP between the real addresses and ports, on a serial line between two
// fixed loopback ends whose ports say which way it went.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace tevrolink {

// The ends that stand for the two sides of a serial line: the PC is 127.0.0.1 on the
// local UDP port the manager uses, the host node 127.0.0.2 on the remote port.
sockaddr_in SerialPcEnd();
sockaddr_in SerialNodeEnd();

// A pcap file (microsecond stamps, raw IPv4 link type) being written.
class PcapWriter {
public:
    // Creates or empties `path` and writes the file header. A path that is not a regular
    // file (a FIFO whose reader may leave and raise SIGPIPE) is refused.
    explicit PcapWriter(const std::string &path);
    ~PcapWriter();
    PcapWriter(const PcapWriter &) = delete;
    PcapWriter &operator=(const PcapWriter &) = delete;

    // 0 while the file can be written, else the errno that stopped it.
    int Error() const { return error_; }
    // Why it stopped, as people read it: the errno's text, or what the path is instead of
    // a regular file ("it is a FIFO, not a regular file").
    std::string ErrorText() const;
    // Appends one datagram from `from` to `to` carrying `size` bytes; false (and Error()
    // set) when the file could not take it.
    bool Write(const sockaddr_in &from, const sockaddr_in &to, const uint8_t *bytes,
               std::size_t size, const timespec &at);

private:
    int fd_ = -1;
    int error_ = 0;
    const char *notRegular_ = nullptr;  // what the path is when it is no regular file
};

// The library's capture, into the file named by TEVROLINK_CAPTURE (looked at once, when the
// first frame passes). A file that cannot be written is reported once on standard error and
// the link goes on as before. These do nothing when the variable is not set.
void CaptureSerialFrame(bool fromNode, const uint8_t *frame, std::size_t size);
// A datagram that the UDP socket `fd` sent to `peer`, or received from it (stamped with its
// arrival on the socket).
void CaptureUdpFrame(int fd, const sockaddr_in &peer, bool received, const uint8_t *bytes,
                     std::size_t size);

}  // namespace tevrolink
