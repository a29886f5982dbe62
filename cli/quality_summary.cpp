#include "cli/quality_summary.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace cli {

namespace {

std::string Figures(const meradon::QualityStats &s, int i) {
    char text[48];
    std::snprintf(text, sizeof text, "%u %u/%.1f/%u", s.Last(i), s.Min(i), s.Mean(i), s.Max(i));
    return text;
}

// To one decimal place, exactly as the table prints it.
double OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return std::strtod(text, nullptr);
}

}  // namespace

void QualitySummary::Add(uint8_t station, const std::string &time, const meradon::QualityValues &values) {
    Station &s = stations_[station];
    if (s.stats.Count() == 0) s.from = time;
    s.to = time;
    s.stats.Add(values);
}

Json QualitySummary::StationsJson() const {
    Json list = Json::array();
    for (const auto &[number, s] : stations_) {
        Json station = {{"station", number}, {"packets", s.stats.Count()}, {"from", s.from}, {"to", s.to}};
        for (int i = 0; i < 4; ++i) {
            station[meradon::kQualityNames[i]] = {{"last", s.stats.Last(i)}, {"min", s.stats.Min(i)},
                                                  {"mean", OneDecimal(s.stats.Mean(i))},
                                                  {"max", s.stats.Max(i)}};
        }
        list.push_back(station);
    }
    return list;
}

void QualitySummary::PrintTable() const {
    std::vector<std::vector<std::string>> rows;
    for (const auto &[number, s] : stations_) {
        std::vector<std::string> row{std::to_string(number), std::to_string(s.stats.Count()), s.from, s.to};
        for (int i = 0; i < 4; ++i) row.push_back(Figures(s.stats, i));
        rows.push_back(row);
    }
    cli::PrintTable({"STATION", "PACKETS", "FROM", "TO", "PEER_LQI", "HOST_LQI", "PEER_RSSI", "HOST_RSSI"}, rows);
}

}  // namespace cli
