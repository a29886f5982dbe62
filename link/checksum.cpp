#include "link/checksum.h"

#include <array>
#include <cstdio>

namespace tevrolink {
namespace {

// The "high-byte" and "low-byte" tables of the classic MODBUS method, generated from the
// reflected polynomial. Entry i of the byte-wise table is split in two; the classic code
// keeps its register with the halves swapped, so its "high" table holds the low halves.
struct ModbusTables {
    std::array<uint8_t, 256> high{};
    std::array<uint8_t, 256> low{};
};

constexpr ModbusTables MakeModbusTables() {
    ModbusTables t;
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<uint16_t>(crc >> 1);
        t.high[i] = static_cast<uint8_t>(crc & 0xFFu);
        t.low[i] = static_cast<uint8_t>(crc >> 8);
    }
    return t;
}

constexpr ModbusTables kModbus = MakeModbusTables();
static_assert(kModbus.high[1] == 0xC1 && kModbus.low[1] == 0xC0, "MODBUS tables");

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

constexpr uint8_t Reverse8(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1u << i)) r = static_cast<uint8_t>(r | (0x80u >> i));
    return r;
}

constexpr uint16_t Reverse16(uint16_t v) {
    return static_cast<uint16_t>(Reverse8(static_cast<uint8_t>(v >> 8)) |
                                 (Reverse8(static_cast<uint8_t>(v & 0xFFu)) << 8));
}

// The MSB-first shift register with reflected input and output, as the bitwise MODBUS
// and MCRF4XX checksums are defined.
uint16_t ReflectedCrc16(const uint8_t *data, std::size_t size, uint16_t polynomial) {
    uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        reg ^= static_cast<uint16_t>(Reverse8(data[i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000u) ? static_cast<uint16_t>((reg << 1) ^ polynomial)
                                  : static_cast<uint16_t>(reg << 1);
    }
    return Reverse16(reg);
}

}  // namespace

uint16_t Crc16ModbusUpdate(uint16_t crc, const uint8_t *data, std::size_t size) {
    uint8_t a = static_cast<uint8_t>(crc & 0xFFu);
    uint8_t b = static_cast<uint8_t>(crc >> 8);
    for (std::size_t i = 0; i < size; ++i) {
        const uint8_t index = data[i] ^ a;
        a = kModbus.high[index] ^ b;
        b = kModbus.low[index];
    }
    return static_cast<uint16_t>(b << 8 | a);
}

uint16_t Crc16Modbus(const uint8_t *data, std::size_t size) {
    return Crc16ModbusUpdate(kCrc16Init, data, size);
}

uint16_t Crc16ModbusBitwise(const uint8_t *data, std::size_t size) {
    return ReflectedCrc16(data, size, 0x8005);
}

uint16_t Crc16Mcrf4xx(const uint8_t *data, std::size_t size) {
    return ReflectedCrc16(data, size, 0x1021);
}

uint32_t Crc32Update(uint32_t crc, const uint8_t *data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        crc = kCrc32Table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return crc;
}

uint32_t Crc32(const uint8_t *data, std::size_t size) {
    return Crc32Final(Crc32Update(kCrc32Init, data, size));
}

uint32_t FileCrc32(const char *path) {
    if (!path) return 0xFFFFFFFFu;
    std::FILE *file = std::fopen(path, "rb");
    if (!file) return 0xFFFFFFFFu;
    uint8_t block[1024];
    uint32_t crc = kCrc32Init;
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0)
        crc = Crc32Update(crc, block, n);
    std::fclose(file);
    return Crc32Final(crc);
}

uint8_t LongitudinalCheck(const uint8_t *data, std::size_t size) {
    uint8_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    return static_cast<uint8_t>(-sum);
}

uint8_t XorCheck(const uint8_t *data, std::size_t size) {
    if (size < 2) return 0;
    uint8_t x = 0;
    for (std::size_t i = 0; i < size; ++i) x ^= data[i];
    return x;
}

}  // namespace tevrolink
