// One function per host-node command.
#pragma once

#include <cstdint>

namespace tevrolink {

constexpr std::size_t kStationBitmapSize = 32;

// Station n is bit (n mod 8) of byte (n div 8); only the low 8 bits of `count` count.
void StationBitmap(const uint8_t *stations, int count, uint8_t *bitmap);
uint8_t BaudCode(uint32_t baudRate);

int SetHostNodeID(int id, uint8_t *out);
int GetHostNodeID(uint8_t *id, uint8_t *role);
int SetPeerNodeID(int id, uint8_t *out);
int GetPeerNodeID(uint8_t *out);
int SetFrequencyPointX1(int point, uint8_t *out);
int GetFrequencyPointX1(uint8_t *out);
int SetFrequencyPointX2(int point, uint8_t *out);
int GetFrequencyPointX2(uint8_t *out);
int SetWirelessPower(int level, uint8_t *out);
int GetWirelessPower(uint8_t *out);
int SetShellHandShake(int onOff);
int GetShellHandShake(uint8_t *out);
int SetDeviceBaudRate(uint32_t baudRate);
int SetNodeActive(const uint8_t *stations, int count);
int SetNodeInactive(const uint8_t *stations, int count);
int GetActiveNodeList(uint8_t *dest, int capacity, uint8_t *count);
int GetNetworkNodeStatus(uint8_t *dest, int capacity, uint8_t *length);
int QueryNodeStatus(int station, uint8_t *out);
int SearchZelkoraNetwork(uint8_t *inOut);
int GetFirmwareVersion(uint8_t *dest, int capacity);
int GetHostMediaInfo(int device, uint16_t *first, uint16_t *second);
int SetHostRTCTimer();
int StartNetCenter(int mode);
int StartMonitorService(int onOff);
int StopHost();
int SetHostNodeOutputFile(int device, uint32_t setting, uint32_t start);
int ClearHostNodeOutputFile(int device, uint32_t start, uint32_t size);
int SetPeerNodeOutputFile(int station, int device, uint32_t setting, uint32_t start);
int ClearPeerNodeOutputFile(int station, int device, uint32_t start, uint32_t size);

}  // namespace tevrolink
