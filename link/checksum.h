// Checksums of the link frame and the files it carries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tevrolink {

// Only the low 16 bits of a length argument count (callers pass 32-bit lengths).
constexpr std::size_t ChecksumLength(uint32_t length) { return length & 0xFFFFu; }

// CRC-16/MODBUS, table-driven; Crc16ModbusUpdate continues a register over more bytes.
constexpr uint16_t kCrc16Init = 0xFFFF;
uint16_t Crc16ModbusUpdate(uint16_t crc, const uint8_t *data, std::size_t size);
uint16_t Crc16Modbus(const uint8_t *data, std::size_t size);
uint16_t Crc16ModbusBitwise(const uint8_t *data, std::size_t size);
uint16_t Crc16Mcrf4xx(const uint8_t *data, std::size_t size);

// CRC-32 (zlib): start with kCrc32Init, feed blocks, finish with Crc32Final.
constexpr uint32_t kCrc32Init = 0xFFFFFFFFu;
uint32_t Crc32Update(uint32_t crc, const uint8_t *data, std::size_t size);
constexpr uint32_t Crc32Final(uint32_t crc) { return ~crc; }
uint32_t Crc32(const uint8_t *data, std::size_t size);
// CRC-32 of a file's content; 0xFFFFFFFF when it cannot be opened.
uint32_t FileCrc32(const char *path);

uint8_t LongitudinalCheck(const uint8_t *data, std::size_t size);
uint8_t XorCheck(const uint8_t *data, std::size_t size);

}  // namespace tevrolink
