#include "cli/quality_summary.h"

#include <cstdio>
#include <vector>

namespace cli {

namespace {

std::string Figures(const meradon::QualityStats &s, int i) {
    char text[48];
    std::snprintf(text, sizeof text, "%u %u/%.1f/%u", s.Last(i), s.Min(i), s.Mean(i), s.Max(i));
    return text;
}

}  // namespace

void QualitySummary::Add(uint8_t station, const std::string &time, const meradon::QualityValues &values) {
    Station &s = stations_[station];
    if (s.stats.Count() == 0) s.from = time;
    s.to = time;
    s.stats.Add(values);
}

void QualitySummary::WriteJson(JsonWriter &json) const {
    json.Key("stations").BeginArray();
    for (const auto &[number, s] : stations_) {
        json.BeginObject().Field("station", unsigned{number})
            .Field("packets", static_cast<int64_t>(s.stats.Count()))
            .Field("from", s.from).Field("to", s.to);
        for (int i = 0; i < 4; ++i) {
            json.Key(meradon::kQualityNames[i]).BeginObject()
                .Field("last", unsigned{s.stats.Last(i)}).Field("min", unsigned{s.stats.Min(i)})
                .Key("mean").Decimal(s.stats.Mean(i)).Field("max", unsigned{s.stats.Max(i)})
                .EndObject();
        }
        json.EndObject();
    }
    json.EndArray();
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
