#include "manager/core/quality_values.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "manager/core/text_format.h"

namespace meradon {

const char kQualityHeader[] = "time,station,peer_lqi,host_lqi,peer_rssi,host_rssi";

std::string QualityFileName(const LocalTime &day) {
    return Format("link-quality %02u-%02u-%02u.csv", static_cast<unsigned>(day.year - 2000),
                  static_cast<unsigned>(day.month), static_cast<unsigned>(day.day));
}

std::string QualityLine(const LocalTime &t, uint8_t station, const QualityValues &v) {
    return LocalTimeText(t) + Format(",%u,%u,%u,%u,%u", station, v[0], v[1], v[2], v[3]);
}

namespace {

// A number as QualityLine writes it: decimal digits only, no leading zero, within `high`.
// No sign, blank or wrap-around of a long number gets through.
std::optional<unsigned> Canonical(std::string_view text, unsigned high) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    unsigned v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > high) return std::nullopt;
    return v;
}

// "YYYY-MM-DD hh:mm:ss", a date that exists and a time of day.
bool ValidTime(std::string_view t) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd";
    if (t.size() != sizeof kShape - 1) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const bool digit = t[i] >= '0' && t[i] <= '9';
        if (kShape[i] == 'd' ? !digit : t[i] != kShape[i]) return false;
    }
    auto number = [&](std::size_t at, std::size_t width) {
        int v = 0;
        for (std::size_t i = at; i < at + width; ++i) v = v * 10 + (t[i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    if (month < 1 || month > 12 || day < 1) return false;
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
    // A second of 60 is the leap second that local time may show.
    return number(11, 2) <= 23 && number(14, 2) <= 59 && number(17, 2) <= 60;
}

}  // namespace

std::optional<QualityRow> ParseQualityLine(const std::string &line) {
    std::string_view rest(line);
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);  // written on Windows
    std::string_view fields[6];
    for (int i = 0; i < 6; ++i) {
        const std::size_t comma = rest.find(',');
        if ((comma == std::string_view::npos) != (i == 5)) return std::nullopt;
        fields[i] = rest.substr(0, comma);
        if (i < 5) rest.remove_prefix(comma + 1);
    }
    if (!ValidTime(fields[0])) return std::nullopt;
    const std::optional<unsigned> station = Canonical(fields[1], kLastQualityStation);
    if (!station || *station == 0) return std::nullopt;
    QualityRow row{std::string(fields[0]), static_cast<uint8_t>(*station), {}};
    for (int i = 0; i < 4; ++i) {
        const std::optional<unsigned> v = Canonical(fields[2 + i], 0xFF);
        if (!v) return std::nullopt;
        row.values[i] = static_cast<uint8_t>(*v);
    }
    return row;
}

void QualityStats::Add(const QualityValues &values) {
    for (int i = 0; i < 4; ++i) {
        min_[i] = count_ ? std::min(min_[i], values[i]) : values[i];
        max_[i] = count_ ? std::max(max_[i], values[i]) : values[i];
        sum_[i] += values[i];
    }
    last_ = values;
    ++count_;
}

}  // namespace meradon
