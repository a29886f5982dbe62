// Classifying received frames and reading their fields; rewriting attribute runs.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/commands.h"
#include "link/frame.h"
#include "link/shell.h"
#include "tevrolink/tevrolink.h"

using namespace tevrolink;

namespace {

std::vector<uint8_t> Record(uint8_t code, uint8_t attr = 0, uint8_t seq = 0) {
    std::vector<uint8_t> f(kFrameSize, 0);
    f[kSync] = kSyncByte;
    f[kCode] = code;
    f[kSeq] = seq;
    f[kNode] = 17;
    f[kAttr] = attr;
    f[kLength] = 3;
    f[kPayload] = 0xC1;
    return f;
}

TEST(Packets, DataPacketKindAndFlags) {
    auto data = Record(0x1E, 0x1C);
    uint8_t kind = 0;
    EXPECT_EQ(::IsValidDataPacket(data.data(), &kind), 1);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(::IsDataPacketHead(data.data()), 1);
    EXPECT_EQ(::IsDataPacketTail(data.data()), 1);
    EXPECT_EQ(::IsDataPacketInfo(data.data()), 0);
    uint8_t station = 0, length = 0;
    const uint8_t *payload = ::GetDataPacketProfile(data.data(), &station, &length);
    EXPECT_EQ(payload, data.data() + kPayload);
    EXPECT_EQ(station, 17);
    EXPECT_EQ(length, 3);

    // A status report is not a data packet and leaves the output alone, but its attribute
    // bits are read all the same.
    auto status = Record(0x9D, 0x06);
    kind = 0x55;
    EXPECT_EQ(::IsValidDataPacket(status.data(), &kind), 0);
    EXPECT_EQ(kind, 0x55);
    EXPECT_EQ(::IsDataPacketHead(status.data()), 1);
    EXPECT_EQ(::IsDataPacketInfo(status.data()), 1);
}

TEST(Packets, DebugAndSignalPacketsFromTheReceiveFrame) {
    uint8_t *rx = TheShell().port.rxFrame;
    auto debug = Record(0x30, 0, 7);
    std::memcpy(rx, debug.data(), kFrameSize);
    uint8_t kind = 0, sub = 0;
    EXPECT_EQ(::IsValidDebugPacket(&kind), 1);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(::GetDebugPacketProfile(&sub), rx + kPayload);
    EXPECT_EQ(sub, 7);
    rx[kCode] = 0x1F;
    EXPECT_EQ(::IsValidDebugPacket(&kind), 1);
    EXPECT_EQ(kind, 1);

    rx[kCode] = 0xB1;
    EXPECT_EQ(::IsValidDebugPacket(nullptr), 0);
    EXPECT_EQ(::IsValidSignalPacket(nullptr), 1);
    EXPECT_EQ(::GetSignalPacketProfile(nullptr), rx + kPayload);
    auto data = Record(0x1E);
    EXPECT_EQ(::GetSignalPacketProfile(data.data()), nullptr);
    std::memset(rx, 0, kFrameSize);
}

TEST(Packets, AttributeRunGetsFirstLastAndInfoFlags) {
    // Three records of 10, 0 and 20 payload bytes: 18 + 8 + 28 = 54 bytes in all.
    uint8_t buf[kFrameSize + 16] = {};
    buf[kLength] = 54;
    const uint8_t lengths[] = {10, 0, 20};
    std::size_t at = kPayload;
    for (uint8_t len : lengths) {
        buf[at + 2] = 0xF1;  // the high nibble is cleared, bit 0 kept
        buf[at + 3] = len;
        at += 8 + len;
    }
    EXPECT_EQ(::SetPacketAttribute(buf, 0x0E), 54);
    EXPECT_EQ(buf[kPayload + 2], 0x07);
    EXPECT_EQ(buf[kPayload + 18 + 2], 0x03);
    EXPECT_EQ(buf[kPayload + 26 + 2], 0x0B);

    // An empty run still rewrites the first record.
    uint8_t one[kFrameSize + 16] = {};
    one[kPayload + 2] = 0x20;
    one[kPayload + 3] = 5;
    EXPECT_EQ(::SetPacketAttribute(one, 0x08), 13);
    EXPECT_EQ(one[kPayload + 2], 0x08);
}

TEST(Packets, HostileRecordLengthsCannotCycleForEver) {
    std::vector<uint8_t> buf(8 + 256 + 16, 0);
    buf[kLength] = 255;
    for (std::size_t i = kPayload + 3; i < buf.size(); i += 1) buf[i] = 248;  // 248 + 8 wraps to 0
    // Each record advances the 8-bit offset by 256, back to 0: the call must still return.
    EXPECT_EQ(::SetPacketAttribute(buf.data(), 0x0E), 0);
}

TEST(Commands, StationBitmapPlacesStationNAtBitNmod8OfByteNdiv8) {
    const uint8_t stations[] = {1, 8, 254};
    uint8_t bitmap[kStationBitmapSize];
    StationBitmap(stations, 3, bitmap);
    uint8_t expected[kStationBitmapSize] = {};
    expected[0] = 0x02;
    expected[1] = 0x01;
    expected[31] = 0x40;
    EXPECT_EQ(0, std::memcmp(bitmap, expected, sizeof bitmap));
    // Only the low 8 bits of the count are used: 0x100 lists nothing.
    StationBitmap(stations, 0x100, bitmap);
    EXPECT_EQ(0, std::memcmp(bitmap, std::vector<uint8_t>(32, 0).data(), 32));
}

TEST(Commands, BaudCodesOfTheListedRatesAndTheFallback) {
    const std::pair<uint32_t, uint8_t> table[] = {
        {110, 0x01},   {300, 0x02},   {600, 0x04},    {1200, 0x11},   {2400, 0x12},
        {4800, 0x14},  {9600, 0x18},  {14400, 0x21},  {19200, 0x22},  {38400, 0x24},
        {56000, 0x27}, {57600, 0x28}, {115200, 0x41}, {128000, 0x42}, {256000, 0x44},
        {0, 0x22},     {230400, 0x22}};
    for (auto [rate, code] : table) EXPECT_EQ(BaudCode(rate), code) << rate;
}

}  // namespace
