// Inserting link-quality samples: each goes into the quality table and is added to its
// station's minute in quality_minutes, the sums a plot of weeks or a year reads instead
// of millions of samples. The store's writer and the import share it.
#pragma once

#include <cstdint>

#include "manager/core/history/database.h"
#include "manager/core/quality_values.h"

namespace meradon {

class QualityRows {
public:
    explicit QualityRows(Database &db);
    void Insert(int64_t time, uint8_t station, const QualityValues &values);

private:
    Statement sample_, minute_;
};

}  // namespace meradon
