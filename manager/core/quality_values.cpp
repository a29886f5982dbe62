#include "manager/core/quality_values.h"

#include <algorithm>
#include <cstdio>

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

std::optional<QualityRow> ParseQualityLine(const std::string &line) {
    char time[20] = {};
    unsigned station = 0, v[4] = {};
    int end = 0;
    // The time is the 19 characters before the first comma; each number is checked.
    if (std::sscanf(line.c_str(), "%19[^,],%u,%u,%u,%u,%u%n", time, &station, &v[0], &v[1], &v[2],
                    &v[3], &end) != 6)
        return std::nullopt;
    const std::string rest = line.substr(static_cast<std::size_t>(end));
    if (rest.find_first_not_of("\r") != std::string::npos) return std::nullopt;
    if (station == 0 || station > kLastQualityStation) return std::nullopt;
    QualityRow row{time, static_cast<uint8_t>(station), {}};
    for (int i = 0; i < 4; ++i) {
        if (v[i] > 0xFF) return std::nullopt;
        row.values[i] = static_cast<uint8_t>(v[i]);
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
