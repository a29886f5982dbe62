// The four link-quality bytes that a signal packet carries for one station, and how they
// are written to and read from the daily quality file ("link-quality yy-mm-dd.csv":
// UTF-8, a header row, one line per signal packet). The command-line client reads the
// same files, so the format lives here once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "manager/core/clock.h"

namespace meradon {

// Payload bytes 3-6 of a signal packet, in that order: the link quality seen by the
// station and by the host node, then the received signal strength seen by each. The
// station list shows them as the pairs "6-5" and "4-3".
using QualityValues = std::array<uint8_t, 4>;
constexpr const char *kQualityNames[4] = {"peer_lqi", "host_lqi", "peer_rssi", "host_rssi"};

// Signal packets name stations 1-254; 255 marks the end of a network search.
constexpr uint8_t kLastQualityStation = 254;

extern const char kQualityHeader[];  // the header row, without line end

std::string QualityFileName(const LocalTime &day);
// One line of the file, without line end: "YYYY-MM-DD hh:mm:ss,station,v0,v1,v2,v3".
std::string QualityLine(const LocalTime &time, uint8_t station, const QualityValues &values);

struct QualityRow {
    std::string time;
    uint8_t station = 0;
    QualityValues values{};
};
// A data line of the file: a time that exists, a station 1-254 and four values 0-255,
// each number written as QualityLine writes it (no sign, blank or leading zero), and an
// optional carriage return. Nothing for the header or any other line.
std::optional<QualityRow> ParseQualityLine(const std::string &line);

// Last, minimum, mean and maximum of each of the four values over a series of samples.
class QualityStats {
public:
    void Add(const QualityValues &values);
    std::size_t Count() const { return count_; }
    uint8_t Last(int i) const { return last_[i]; }
    uint8_t Min(int i) const { return min_[i]; }
    uint8_t Max(int i) const { return max_[i]; }
    double Mean(int i) const { return count_ ? static_cast<double>(sum_[i]) / count_ : 0.0; }

private:
    std::size_t count_ = 0;
    QualityValues last_{}, min_{}, max_{};
    std::array<uint64_t, 4> sum_{};
};

}  // namespace meradon
