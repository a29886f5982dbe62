#include "manager/core/history/quality_import.h"

#include <fstream>
#include <string>
#include <system_error>

#include "manager/core/history/quality_rows.h"
#include "manager/core/quality_values.h"

namespace meradon {

namespace {

bool IsQualityFile(const std::filesystem::directory_entry &entry) {
    const std::string name = entry.path().filename().string();
    return entry.is_regular_file() && name.rfind("link-quality ", 0) == 0 &&
           entry.path().extension() == ".csv";
}

}  // namespace

std::size_t ImportQualityFiles(Database &db, const std::filesystem::path &directory,
                               int64_t beforeSeconds) {
    QualityRows rows(db);
    std::size_t count = 0;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(directory, error)) {
        if (!IsQualityFile(entry)) continue;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            const std::optional<QualityRow> row = ParseQualityLine(line);
            if (!row) continue;
            const std::optional<LocalTime> time = ParseLocalTime(row->time);
            if (!time) continue;
            const int64_t seconds = EpochSeconds(*time);
            if (seconds >= beforeSeconds) continue;
            rows.Insert(seconds, row->station, row->values);
            ++count;
        }
    }
    return count;
}

}  // namespace meradon
