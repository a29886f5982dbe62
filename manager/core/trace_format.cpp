#include "manager/core/trace_format.h"

#include "manager/core/text_format.h"

namespace meradon {

namespace {

// Banners of the events that carry no detail in either form.
const char *BannerOnly(uint8_t event) {
    switch (event) {
    case 4: return "******Data Time out******\r\n";
    case 9: return "****************System Reboot****************\r\n";
    case 10: return "***************Packet Exception**************\r\n";
    default: return nullptr;
    }
}

}  // namespace

std::string FormatTraceLong(uint8_t event, const uint8_t *p, const LocalTime &time) {
    const uint8_t self = p[kDebugSelf], a = p[kDebugStationA], b = p[kDebugStationB];
    if (a != self && b != self) return {};
    std::string record = Format("\r\n[%02d:%02d:%02d] ", time.hour, time.minute, time.second);
    unsigned first = 0;
    const unsigned long counter = p[13];
    switch (event) {
    case 1:
        record += Format("0X%02X==>0X%02X:", a, b);
        first = a;
        break;
    case 2:
        record += Format("0X%02X<=>0X%02X:", a, b);
        first = a;
        break;
    case 3:
        record += Format("0X%02X<--0X%02X:", b, a);
        first = b;
        break;
    case 5:
        record += Format("******Node Suspended,Counter=%lu******\r\n", counter);
        break;
    case 6:
        return record + Format("******Sync Up Time out,Counter=%lu******\r\n", counter);
    case 7:
        return record + Format("******Sync Down Time out,Counter=%lu******\r\n", counter);
    default:
        if (const char *banner = BannerOnly(event)) return record + banner;
        break;
    }
    record += Format("Cmd=0X%02X,Suit=0X%02X,Mask=0X%02X,Mode=0X%02X,Counter=%u\r\n", p[151],
                     p[156] & 0x3F, p[149] & 0x0F, p[156] >> 6, p[13]);
    record += Format("\tPket:PktID=0X%02X,S-Host=0X%02X,Init=0X%02X,H-RSI=0X%02X,"
                     "H-LQI=0X%02X,P-RSI=0X%02X,P-LQI=0X%02X\t\r\n\t",
                     p[150], p[10], p[12], p[18], p[17], p[20], p[19]);
    record += Format("0X%02X:Tx=0X%02X,Rx=0X%02X,S-Node=0X%02X\tR=0X%02X,W=0X%02X\r\n\t", first,
                     p[15], p[16], p[11], p[0], p[1]);
    for (int i = 2; i <= 9; ++i) record += Format("%02X ", p[i]);
    return record + "\r\n";
}

std::string FormatTraceShort(uint8_t event, const uint8_t *p, const LocalTime &time) {
    std::string record = Format("[%02d:%02d] ", time.hour, time.minute);
    switch (event) {
    case 1: record += Format("0X%02X==>0X%02X:", p[5], p[4]); break;
    case 2: record += Format("0X%02X<=>0X%02X:", p[5], p[4]); break;
    case 3: record += Format("0X%02X<--0X%02X:", p[4], p[5]); break;
    case 5: record += "******Node Suspended******\r\n"; break;
    case 6: return record + "******Sync Up Time out******\r\n";
    case 7: return record + "******Sync Down Time out******\r\n";
    default:
        if (const char *banner = BannerOnly(event)) return record + banner;
        break;
    }
    return record + Format("Cmd=0X%02X,PktID=0X%02X,Suit=0X%02X,Mask=0X%02X,Mode=0X%02X\r\n",
                           p[2], p[1], p[7] & 0x3F, p[0] & 0x0F, p[7] >> 6);
}

}  // namespace meradon
