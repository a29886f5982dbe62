// The C interface: thin wrappers that take the export lock and call the shell's code.
#include "tevrolink/tevrolink.h"

#include "link/checksum.h"
#include "link/commands.h"
#include "link/file_transfer.h"
#include "link/export_lock.h"
#include "link/packets.h"
#include "link/receive.h"
#include "link/shell.h"
#include "link/shell_wait.h"
#include "link/streams.h"
#include "setup/discovery.h"

using namespace tevrolink;

extern "C" {

int QuickCRC16(const uint8_t *data, uint32_t length) {
    return Crc16Modbus(data, ChecksumLength(length));
}

int CRC16(const uint8_t *data, uint32_t length) {
    return Crc16ModbusBitwise(data, ChecksumLength(length));
}

int CRC_CCITT(const uint8_t *data, uint32_t length) {
    return Crc16Mcrf4xx(data, ChecksumLength(length));
}

uint32_t QuickCRC32(const uint8_t *data, uint32_t length) {
    return Crc32(data, ChecksumLength(length));
}

uint32_t QuickFileCRC32(const char *path) { return FileCrc32(path); }

int ASCII_CRC(const uint8_t *data, uint32_t length) {
    return LongitudinalCheck(data, ChecksumLength(length));
}

int NEMA_CRC(const uint8_t *data, uint32_t length) {
    return XorCheck(data, ChecksumLength(length));
}

int OpenCOMShell(const char *deviceName, uint32_t baudRate) {
    ExportLock lock;
    return tevrolink::OpenCOMShell(deviceName, baudRate);
}

int OpenNETShell(const char *localAddress, const char *remoteAddress, uint16_t localPort,
                 uint16_t remotePort) {
    ExportLock lock;
    return tevrolink::OpenNETShell(localAddress, remoteAddress, localPort, remotePort);
}

int CloseShell(void) {
    ExportLock lock;
    return tevrolink::CloseShell();
}

int IsShellActive(void) {
    ExportLock lock;
    return tevrolink::IsShellActive();
}

void SetHostHandShake(uint32_t onOff) {
    ExportLock lock;
    tevrolink::SetHostHandShake(onOff);
}

int CopyShell(uint8_t *frame) {
    ExportLock lock;
    return tevrolink::CopyShell(frame);
}

int IsShellReadable(uint8_t *linkState, uint16_t *credit) {
    ExportLock lock;
    return tevrolink::IsShellReadable(linkState, credit);
}

int WaitForShellReadable(uint32_t milliseconds) {
    return tevrolink::WaitForShellReadable(milliseconds);  // locks only to look, not to wait
}

void WakeShellWaiters(void) { tevrolink::WakeShellWaiters(); }

int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind) {
    ExportLock lock;
    return tevrolink::IsValidStatusPacket(frame, kind);
}

int GetStatusPacketProfile(uint8_t *profile) {
    ExportLock lock;
    return tevrolink::GetStatusPacketProfile(profile);
}

int SetHostNodeID(int id, uint8_t *out) {
    ExportLock lock;
    return tevrolink::SetHostNodeID(id, out);
}

int GetHostNodeID(uint8_t *id, uint8_t *role) {
    ExportLock lock;
    return tevrolink::GetHostNodeID(id, role);
}

int SetPeerNodeID(int id, uint8_t *out) {
    ExportLock lock;
    return tevrolink::SetPeerNodeID(id, out);
}

int GetPeerNodeID(uint8_t *out) {
    ExportLock lock;
    return tevrolink::GetPeerNodeID(out);
}

int SetFrequencyPointX1(int point, uint8_t *out) {
    ExportLock lock;
    return tevrolink::SetFrequencyPointX1(point, out);
}

int GetFrequencyPointX1(uint8_t *out) {
    ExportLock lock;
    return tevrolink::GetFrequencyPointX1(out);
}

int SetFrequencyPointX2(int point, uint8_t *out) {
    ExportLock lock;
    return tevrolink::SetFrequencyPointX2(point, out);
}

int GetFrequencyPointX2(uint8_t *out) {
    ExportLock lock;
    return tevrolink::GetFrequencyPointX2(out);
}

int SetWirelessPower(int level, uint8_t *out) {
    ExportLock lock;
    return tevrolink::SetWirelessPower(level, out);
}

int GetWirelessPower(uint8_t *out) {
    ExportLock lock;
    return tevrolink::GetWirelessPower(out);
}

int SetShellHandShake(int onOff) {
    ExportLock lock;
    return tevrolink::SetShellHandShake(onOff);
}

int GetShellHandShake(uint8_t *out) {
    ExportLock lock;
    return tevrolink::GetShellHandShake(out);
}

int SetDeviceBaudRate(uint32_t baudRate) {
    ExportLock lock;
    return tevrolink::SetDeviceBaudRate(baudRate);
}

int SetHostBaudRate(uint32_t baudRate) {
    (void)baudRate;  // the host node's rate is changed with SetDeviceBaudRate
    return 1;
}

int SetNodeActive(const uint8_t *stations, int count) {
    ExportLock lock;
    return tevrolink::SetNodeActive(stations, count);
}

int SetNodeInactive(const uint8_t *stations, int count) {
    ExportLock lock;
    return tevrolink::SetNodeInactive(stations, count);
}

int GetActiveNodeList(uint8_t *dest, int capacity, uint8_t *count) {
    ExportLock lock;
    return tevrolink::GetActiveNodeList(dest, capacity, count);
}

int GetNetworkNodeStatus(uint8_t *dest, int capacity, uint8_t *length) {
    ExportLock lock;
    return tevrolink::GetNetworkNodeStatus(dest, capacity, length);
}

int QueryNodeStatus(int station, uint8_t *out) {
    ExportLock lock;
    return tevrolink::QueryNodeStatus(station, out);
}

int SearchZelkoraNetwork(uint8_t *inOut) {
    ExportLock lock;
    return tevrolink::SearchZelkoraNetwork(inOut);
}

int GetFirmwareVersion(uint8_t *dest, int capacity) {
    ExportLock lock;
    return tevrolink::GetFirmwareVersion(dest, capacity);
}

int GetHostMediaInfo(int device, uint16_t *first, uint16_t *second) {
    ExportLock lock;
    return tevrolink::GetHostMediaInfo(device, first, second);
}

int SetHostRTCTimer(void) {
    ExportLock lock;
    return tevrolink::SetHostRTCTimer();
}

int StartNetCenter(int mode) {
    ExportLock lock;
    return tevrolink::StartNetCenter(mode);
}

int StartMonitorService(int onOff) {
    ExportLock lock;
    return tevrolink::StartMonitorService(onOff);
}

int StopHost(void) {
    ExportLock lock;
    return tevrolink::StopHost();
}

int SetHostNodeOutputFile(int device, uint32_t setting, uint32_t start) {
    ExportLock lock;
    return tevrolink::SetHostNodeOutputFile(device, setting, start);
}

int ClearHostNodeOutputFile(int device, uint32_t start, uint32_t size) {
    ExportLock lock;
    return tevrolink::ClearHostNodeOutputFile(device, start, size);
}

int SetPeerNodeOutputFile(int station, int device, uint32_t setting, uint32_t start) {
    ExportLock lock;
    return tevrolink::SetPeerNodeOutputFile(station, device, setting, start);
}

int ClearPeerNodeOutputFile(int station, int device, uint32_t start, uint32_t size) {
    ExportLock lock;
    return tevrolink::ClearPeerNodeOutputFile(station, device, start, size);
}

int IsValidDataPacket(const uint8_t *frame, uint8_t *kind) {
    ExportLock lock;
    return tevrolink::IsValidDataPacket(frame, kind);
}

int IsDataPacketHead(const uint8_t *frame) {
    ExportLock lock;
    return tevrolink::IsDataPacketHead(frame);
}

int IsDataPacketTail(const uint8_t *frame) {
    ExportLock lock;
    return tevrolink::IsDataPacketTail(frame);
}

int IsDataPacketInfo(const uint8_t *frame) {
    ExportLock lock;
    return tevrolink::IsDataPacketInfo(frame);
}

uint8_t *GetDataPacketProfile(const uint8_t *frame, uint8_t *station, uint8_t *length) {
    ExportLock lock;
    return tevrolink::GetDataPacketProfile(frame, station, length);
}

int SetPacketAttribute(uint8_t *buffer, int flags) {
    ExportLock lock;
    return tevrolink::SetPacketAttribute(buffer, flags);
}

int IsValidDebugPacket(uint8_t *kind) {
    ExportLock lock;
    return tevrolink::IsValidDebugPacket(kind);
}

uint8_t *GetDebugPacketProfile(uint8_t *subKind) {
    ExportLock lock;
    return tevrolink::GetDebugPacketProfile(subKind);
}

int IsValidSignalPacket(const uint8_t *frame) {
    ExportLock lock;
    return tevrolink::IsValidSignalPacket(frame);
}

uint8_t *GetSignalPacketProfile(const uint8_t *frame) {
    ExportLock lock;
    return tevrolink::GetSignalPacketProfile(frame);
}

int WriteStreamToShell(const uint8_t *source, uint32_t length, int station, int kind, int flags) {
    ExportLock lock;
    return tevrolink::WriteStreamToShell(source, length, station, kind, flags);
}

int SendPacketToHostNode(const uint8_t *source, uint32_t length) {
    ExportLock lock;
    return tevrolink::SendPacketToHostNode(source, length);
}

int RecvPacketFromHostNode(uint8_t *dest, int capacity, uint32_t count) {
    ExportLock lock;
    return tevrolink::RecvPacketFromHostNode(dest, capacity, count);
}

int QueryHostRTxStatus(uint8_t *profile) {
    ExportLock lock;
    return tevrolink::QueryHostRTxStatus(profile);
}

int IsShellWritable(uint8_t *linkState, uint16_t *size) {
    ExportLock lock;
    return tevrolink::IsShellWritable(linkState, size);
}

int WaitForShellWritable(uint16_t *size) {
    ExportLock lock;
    return tevrolink::WaitForShellWritable(size);
}

int WaitForShellEmpty(uint16_t *credit) {
    ExportLock lock;
    return tevrolink::WaitForShellEmpty(credit);
}

int DownloadFileToHost(uint32_t position, const char *path) {
    ExportLock lock;
    return tevrolink::DownloadFileToHost(position, path);
}

int DownloadFileToNetwork(int peer, uint32_t position, const char *path) {
    ExportLock lock;
    return tevrolink::DownloadFileToNetwork(peer, position, path);
}

int UploadFileFromHost(uint32_t position, uint32_t size, const char *path) {
    ExportLock lock;
    return tevrolink::UploadFileFromHost(position, size, path);
}

int SendIPDeviceSearchRequest(void) {
    ExportLock lock;
    return tevrolink::SendIPDeviceSearchRequest();
}

int IsValidIPAddrResponse(const uint8_t *frame) {
    ExportLock lock;
    return tevrolink::IsValidIPAddrResponse(frame);
}

int ReadSocketPacket(uint8_t *buffer, uint32_t size) {
    ExportLock lock;
    return tevrolink::ReadSocketPacket(buffer, size);
}

int GetSocketPacketAdapter(char *name, uint32_t capacity) {
    ExportLock lock;
    return tevrolink::GetSocketPacketAdapter(name, capacity);
}

int SetNodeIPAddress(const char *address) {
    ExportLock lock;
    return tevrolink::SetNodeIPAddress(address);
}

int UpdateNodeNetworkParameter(const DeviceEntry *entry) {
    ExportLock lock;
    return tevrolink::UpdateNodeNetworkParameter(entry);
}

}  // extern "C"
