// Finding network-attached host nodes by broadcast, and changing their configuration.
#pragma once

#include <cstdint>

#include "tevrolink/tevrolink.h"

namespace tevrolink {

int SendIPDeviceSearchRequest();
int IsValidIPAddrResponse(const uint8_t *frame);
int ReadSocketPacket(uint8_t *buffer, uint32_t size);
int GetSocketPacketAdapter(char *name, uint32_t capacity);
int SetNodeIPAddress(const char *address);
int UpdateNodeNetworkParameter(const DeviceEntry *entry);

}  // namespace tevrolink
