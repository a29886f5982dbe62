// A broadcast that leaves through every adapter, whatever the routing table says: a laptop
// cabled straight to a device often has no default route (the limited broadcast would
// fail with ENETUNREACH), and one with two adapters would send it only out of the one that
// holds the default route.
#pragma once

#include <netinet/in.h>

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

}  // namespace tevrolink
