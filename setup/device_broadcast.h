// Datagrams of the device search that know their adapter. A broadcast leaves through every
// adapter, whatever the routing table says: a laptop cabled straight to a device often has
// no default route (the limited broadcast would fail with ENETUNREACH), and one with two
// adapters would send it only out of the one that holds the default route.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tevrolink {

// Sends `size` bytes to 255.255.255.255:`port` on the UDP socket `fd` once out of every
// IPv4 adapter that is up and can broadcast, naming the adapter and its address as
// IP_PKTINFO; an adapter that refuses that gets its directed broadcast instead. With
// `source` other than INADDR_ANY (network order) only the adapter holding that address is
// used. Returns the number of adapters the datagram left on; when none, errno says why:
// ENODEV no adapter is up that can broadcast, EADDRNOTAVAIL none of them has an IPv4
// address (or `source`), otherwise the error of the last send.
int BroadcastOnEveryAdapter(int fd, const uint8_t *data, std::size_t size, uint16_t port,
                            in_addr_t source);

// Receives one datagram without waiting, as recvfrom does, and notes the interface index
// of the adapter it came in on into `adapter` (0 when the socket does not ask for
// IP_PKTINFO).
ssize_t ReceiveNotingAdapter(int fd, uint8_t *buffer, std::size_t size, sockaddr_in &from,
                             unsigned &adapter);

}  // namespace tevrolink
