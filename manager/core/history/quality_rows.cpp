#include "manager/core/history/quality_rows.h"

#include <string>

namespace meradon {

namespace {

std::string AddToSums(const QualitySums &sums) {
    std::string values, update;
    for (int i = 0; i < 4; ++i) {
        const std::string name = kQualityNames[i], parameter = "?" + std::to_string(3 + i);
        values += ", " + parameter + ", " + parameter + ", " + parameter;
        update += ", " + name + "_sum = " + name + "_sum + " + parameter + ", " + name + "_min = min(" + name +
                  "_min, " + parameter + "), " + name + "_max = max(" + name + "_max, " + parameter + ")";
    }
    return std::string("INSERT INTO ") + sums.table + " VALUES (?2, ?1 / " + std::to_string(sums.seconds) +
           ", 1" + values + ") ON CONFLICT (station, " + sums.column + ") DO UPDATE SET samples = samples + 1" +
           update;
}

}  // namespace

QualityRows::QualityRows(Database &db)
    : sample_(db, "INSERT INTO quality (time, station, peer_lqi, host_lqi, peer_rssi, host_rssi) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"),
      minute_(db, AddToSums(kQualitySums[0])),
      hour_(db, AddToSums(kQualitySums[1])) {}

void QualityRows::Insert(int64_t time, uint8_t station, const QualityValues &values) {
    for (Statement *s : {&sample_, &minute_, &hour_}) {
        s->Bind(1, time).Bind(2, int64_t{station});
        for (int i = 0; i < 4; ++i) s->Bind(3 + i, int64_t{values[i]});
        s->Run();
    }
}

}  // namespace meradon
