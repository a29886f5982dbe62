// Reading and writing the values the host node takes: station numbers, frequency points,
// power levels, rates, addresses. Every parser refuses a bad value with UsageError before
// anything is sent, with the texts the desktop window uses where it has one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

extern const char kStationRangeMessage[];  // stations are 1-254
extern const char kPointRangeMessage[];    // frequency points are 0-16

constexpr int kPowerLevels = 8;
// The window's texts of the power levels 0 (strongest) to 7.
extern const std::array<const char *, kPowerLevels> kPowerTexts;
// The same levels in dBm.
extern const std::array<int, kPowerLevels> kPowerDbm;

// A decimal number without sign, within [low, high]; `what` names it in the error.
uint32_t ParseNumber(const std::string &text, uint32_t low, uint32_t high, const std::string &what);

uint8_t ParseStation(const std::string &text);
uint8_t ParsePoint(const std::string &text);
// A power in dBm with its sign or unit or both ("+10", "-5", "-05 dBm", "0 dBm"), or a
// level "level 0" (+10 dBm) to "level 7" (-20 dBm). A bare number is refused: people
// read "0" as either.
uint8_t ParsePower(const std::string &text);
bool ParseOnOff(const std::string &text, const std::string &what);
// One of the rates the host node can be set to and found at again.
uint32_t ParseDeviceBaud(const std::string &text);
// "1,5,8-10": ascending, without repeats; every station 1-254.
std::vector<uint8_t> ParseStationList(const std::string &text);
std::string FormatStationList(const std::vector<uint8_t> &stations);

using Ipv4 = std::array<uint8_t, 4>;
using Mac = std::array<uint8_t, 6>;
// Dotted quad, exactly four decimal parts.
bool ParseIpv4(const std::string &text, Ipv4 &out);
std::string FormatIpv4(const uint8_t *octets);
// Six hexadecimal pairs separated by '-' or ':' (either case).
bool ParseMac(const std::string &text, Mac &out);
std::string FormatMac(const uint8_t *octets);  // "00-1A-2B-3C-4D-5E"

}  // namespace cli
