// Trace records of debug packets, byte for byte.
#include <gtest/gtest.h>

#include <array>

#include "manager/core/trace_format.h"

using meradon::FormatTraceLong;
using meradon::FormatTraceShort;
using meradon::LocalTime;

namespace {

const LocalTime kTime{2024, 5, 6, 9, 5, 7};

// A kind-1 payload whose every field has a distinct value; self = 3, A = 3, B = 7.
std::array<uint8_t, 240> LongPayload() {
    std::array<uint8_t, 240> p{};
    for (int i = 0; i <= 20; ++i) p[i] = static_cast<uint8_t>(0x10 + i);
    p[13] = 42;  // Counter
    p[14] = 3;   // self
    p[149] = 0xA5;
    p[150] = 0x66;
    p[151] = 0xE0;
    p[153] = 7;
    p[154] = 3;
    p[156] = 0xC9;  // Suit 0x09, Mode 3
    return p;
}

const char *const kLongDetail =
    "Cmd=0XE0,Suit=0X09,Mask=0X05,Mode=0X03,Counter=42\r\n"
    "\tPket:PktID=0X66,S-Host=0X1A,Init=0X1C,H-RSI=0X22,H-LQI=0X21,P-RSI=0X24,P-LQI=0X23\t\r\n\t";
const char *const kLongBytes = "12 13 14 15 16 17 18 19 \r\n";

}  // namespace

TEST(TraceLong, PacketEventsNameBothStationsThenTheDetail) {
    auto p = LongPayload();
    EXPECT_EQ(FormatTraceLong(1, p.data(), kTime),
              std::string("\r\n[09:05:07] 0X03==>0X07:") + kLongDetail +
                  "0X03:Tx=0X1F,Rx=0X20,S-Node=0X1B\tR=0X10,W=0X11\r\n\t" + kLongBytes);
    EXPECT_EQ(FormatTraceLong(2, p.data(), kTime).substr(0, 25), "\r\n[09:05:07] 0X03<=>0X07:");
    // Event 3 turns the pair round and starts the third line with B.
    std::string three = FormatTraceLong(3, p.data(), kTime);
    EXPECT_EQ(three.substr(0, 25), "\r\n[09:05:07] 0X07<--0X03:");
    EXPECT_NE(three.find("\t0X07:Tx=0X1F"), std::string::npos);
}

TEST(TraceLong, BannersWithAndWithoutDetail) {
    auto p = LongPayload();
    EXPECT_EQ(FormatTraceLong(5, p.data(), kTime),
              std::string("\r\n[09:05:07] ******Node Suspended,Counter=42******\r\n") + kLongDetail +
                  "0X00:Tx=0X1F,Rx=0X20,S-Node=0X1B\tR=0X10,W=0X11\r\n\t" + kLongBytes);
    EXPECT_EQ(FormatTraceLong(4, p.data(), kTime), "\r\n[09:05:07] ******Data Time out******\r\n");
    EXPECT_EQ(FormatTraceLong(6, p.data(), kTime),
              "\r\n[09:05:07] ******Sync Up Time out,Counter=42******\r\n");
    EXPECT_EQ(FormatTraceLong(7, p.data(), kTime),
              "\r\n[09:05:07] ******Sync Down Time out,Counter=42******\r\n");
    EXPECT_EQ(FormatTraceLong(9, p.data(), kTime),
              "\r\n[09:05:07] ****************System Reboot****************\r\n");
    EXPECT_EQ(FormatTraceLong(10, p.data(), kTime),
              "\r\n[09:05:07] ***************Packet Exception**************\r\n");
    // Event 8 and unknown events: no banner, detail with a first value of 0.
    EXPECT_EQ(FormatTraceLong(8, p.data(), kTime),
              std::string("\r\n[09:05:07] ") + kLongDetail +
                  "0X00:Tx=0X1F,Rx=0X20,S-Node=0X1B\tR=0X10,W=0X11\r\n\t" + kLongBytes);
    EXPECT_EQ(FormatTraceLong(200, p.data(), kTime), FormatTraceLong(8, p.data(), kTime));
}

TEST(TraceLong, EventsOfOtherStationsAreNotTraced) {
    auto p = LongPayload();
    p[153] = 8;
    p[154] = 9;
    EXPECT_EQ(FormatTraceLong(1, p.data(), kTime), "");
    p[153] = 3;  // B is self
    EXPECT_NE(FormatTraceLong(1, p.data(), kTime), "");
}

TEST(TraceShort, RecordsOfKindTwo) {
    std::array<uint8_t, 240> p{};
    p[0] = 0xF6;  // Mask 6
    p[1] = 0x31;  // PktID
    p[2] = 0xD0;  // Cmd
    p[4] = 0x0B;  // B
    p[5] = 0x0A;  // A
    p[7] = 0x85;  // Suit 5, Mode 2
    const std::string detail = "Cmd=0XD0,PktID=0X31,Suit=0X05,Mask=0X06,Mode=0X02\r\n";
    EXPECT_EQ(FormatTraceShort(1, p.data(), kTime), "[09:05] 0X0A==>0X0B:" + detail);
    EXPECT_EQ(FormatTraceShort(2, p.data(), kTime), "[09:05] 0X0A<=>0X0B:" + detail);
    EXPECT_EQ(FormatTraceShort(3, p.data(), kTime), "[09:05] 0X0B<--0X0A:" + detail);
    EXPECT_EQ(FormatTraceShort(5, p.data(), kTime), "[09:05] ******Node Suspended******\r\n" + detail);
    EXPECT_EQ(FormatTraceShort(8, p.data(), kTime), "[09:05] " + detail);
    EXPECT_EQ(FormatTraceShort(4, p.data(), kTime), "[09:05] ******Data Time out******\r\n");
    EXPECT_EQ(FormatTraceShort(6, p.data(), kTime), "[09:05] ******Sync Up Time out******\r\n");
    EXPECT_EQ(FormatTraceShort(7, p.data(), kTime), "[09:05] ******Sync Down Time out******\r\n");
    EXPECT_EQ(FormatTraceShort(9, p.data(), kTime),
              "[09:05] ****************System Reboot****************\r\n");
}
