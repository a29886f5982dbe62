#include "manager/core/history/quality_import.h"

#include <fstream>
#include <string>
#include <system_error>

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
    Statement insert(db, "INSERT INTO quality (time, station, peer_lqi, host_lqi, peer_rssi, "
                         "host_rssi) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
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
            insert.Bind(1, seconds).Bind(2, int64_t{row->station});
            for (int i = 0; i < 4; ++i) insert.Bind(3 + i, int64_t{row->values[i]});
            insert.Run();
            ++count;
        }
    }
    return count;
}

}  // namespace meradon
