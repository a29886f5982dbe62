// The C interface: thin wrappers that take the export lock and call the shell's code.
#include "tevrolink/tevrolink.h"

#include "link/checksum.h"
#include "link/export_lock.h"
#include "link/packets.h"
#include "link/receive.h"
#include "link/shell.h"

using namespace tevrolink;

namespace tevrolink {

std::mutex &ExportMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace tevrolink

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

int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind) {
    ExportLock lock;
    return tevrolink::IsValidStatusPacket(frame, kind);
}

int GetStatusPacketProfile(uint8_t *profile) {
    ExportLock lock;
    return tevrolink::GetStatusPacketProfile(profile);
}

}  // extern "C"
