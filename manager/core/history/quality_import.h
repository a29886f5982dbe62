// The daily link-quality files that the manager wrote before it had a store: taken into
// a new store once, so that an operator's earlier history is not lost by the upgrade.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "manager/core/history/database.h"

namespace meradon {

// Inserts the samples of every "link-quality *.csv" file in `directory` stamped before
// `beforeSeconds` (later ones are being written into the store already) and returns how
// many. Malformed lines are skipped. Runs inside the caller's transaction.
std::size_t ImportQualityFiles(Database &db, const std::filesystem::path &directory,
                               int64_t beforeSeconds);

}  // namespace meradon
