#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tevrolink/tevrolink.h"

namespace {

const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Checksums, CheckValuesOfTheNamedStandards) {
    EXPECT_EQ(QuickCRC16(kDigits, 9), 0x4B37);
    EXPECT_EQ(CRC16(kDigits, 9), 0x4B37);
    EXPECT_EQ(CRC_CCITT(kDigits, 9), 0x6F91);
    EXPECT_EQ(QuickCRC32(kDigits, 9), 0xCBF43926u);
    EXPECT_EQ(ASCII_CRC(kDigits, 9), 0x23);
    EXPECT_EQ(NEMA_CRC(kDigits, 9), 0x31);
}

TEST(Checksums, TableAndBitwiseModbusAgreeOnEveryLengthAndByte) {
    std::vector<uint8_t> data(600);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (uint32_t n = 0; n <= data.size(); n += 7)
        ASSERT_EQ(QuickCRC16(data.data(), n), CRC16(data.data(), n)) << "length " << n;
    for (int b = 0; b < 256; ++b) {
        const uint8_t one = static_cast<uint8_t>(b);
        ASSERT_EQ(QuickCRC16(&one, 1), CRC16(&one, 1)) << "byte " << b;
    }
}

TEST(Checksums, OnlyTheLowSixteenBitsOfTheLengthCount) {
    std::vector<uint8_t> big(65536 + 9, 0x5A);
    EXPECT_EQ(QuickCRC16(big.data(), 65536), 0xFFFF);
    EXPECT_EQ(CRC16(big.data(), 65536), 0xFFFF);
    EXPECT_EQ(CRC_CCITT(big.data(), 65536), 0xFFFF);
    EXPECT_EQ(QuickCRC32(big.data(), 65536), 0u);
    EXPECT_EQ(ASCII_CRC(big.data(), 65536), 0);
    // 65536 + 9 counts as 9.
    std::copy(std::begin(kDigits), std::end(kDigits), big.begin());
    EXPECT_EQ(QuickCRC32(big.data(), 65536 + 9), 0xCBF43926u);
}

TEST(Checksums, XorCheckIgnoresShortInput) {
    const uint8_t one = 0x7E;
    EXPECT_EQ(NEMA_CRC(&one, 1), 0);
    EXPECT_EQ(NEMA_CRC(nullptr, 0), 0);
    const uint8_t two[] = {0x7E, 0x01};
    EXPECT_EQ(NEMA_CRC(two, 2), 0x7F);
}

TEST(Checksums, FileCrcReadsTheWholeFileOrSaysItCannot) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto empty = dir / ("crc-empty-" + std::to_string(::getpid()));
    const auto large = dir / ("crc-large-" + std::to_string(::getpid()));
    { std::ofstream(empty, std::ios::binary); }
    std::vector<uint8_t> content(5000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i ^ (i >> 8));
    {
        std::ofstream out(large, std::ios::binary);
        out.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    EXPECT_EQ(QuickFileCRC32(empty.c_str()), 0u);
    // Spans several 1024-byte blocks; equals the in-memory CRC.
    EXPECT_EQ(QuickFileCRC32(large.c_str()), QuickCRC32(content.data(), 5000));
    EXPECT_EQ(QuickFileCRC32((dir / "no-such-file-here").c_str()), 0xFFFFFFFFu);
    std::filesystem::remove(empty);
    std::filesystem::remove(large);
}

}  // namespace
