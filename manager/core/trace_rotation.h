// Opening and hourly renewal of the trace file, while "输出运行信息" is checked.
#pragma once

#include "manager/core/core.h"

namespace meradon {

constexpr int64_t kTraceFileLifeMs = 3'600'000;

// Before each record: opens a trace file when none is open, and replaces one that is more
// than an hour old, so the record that causes the renewal goes into the new file.
void RotateTraceFile(Core &core);
void OpenTraceFile(Core &core);

}  // namespace meradon
