// Inserting link-quality samples: each goes into the quality table and is added to its
// station's minute and hour, the sums that a plot of weeks or a year reads instead of
// millions of samples. The store's writer and the import share it.
#pragma once

#include <array>
#include <cstdint>

#include "manager/core/history/database.h"
#include "manager/core/quality_values.h"

namespace meradon {

// The tables of sums, each with its period in seconds and the name of its time column.
struct QualitySums {
    const char *table;
    const char *column;
    int64_t seconds;
};
constexpr std::array<QualitySums, 2> kQualitySums = {{
    {"quality_minutes", "minute", 60},
    {"quality_hours", "hour", 3600},
}};

class QualityRows {
public:
    explicit QualityRows(Database &db);
    void Insert(int64_t time, uint8_t station, const QualityValues &values);

private:
    Statement sample_, minute_, hour_;
};

}  // namespace meradon
