// Fills a history store batch after batch, as the store's writer does, and prints after
// each commit how many quality samples are committed in all. Sample n carries n in its
// four values, so the kill test can tell exactly which are there. Runs until killed.
#include <cstdio>
#include <cstdlib>

#include "manager/core/history/batch_writer.h"
#include "manager/core/history/schema.h"

using namespace meradon;

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: history_writer_child STORE BATCH\n");
        return 2;
    }
    Database db(argv[1], Database::Access::ReadWrite);
    PrepareHistorySchema(db);
    BatchWriter writer(db);
    const int64_t batch = std::atoll(argv[2]);
    int64_t committed = db.QueryInt("SELECT count(*) FROM quality").value_or(0);
    for (;;) {
        std::vector<HistoryFact> facts;
        for (int64_t n = committed; n < committed + batch; ++n) {
            const auto v = static_cast<uint32_t>(n);
            const QualityValues values{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
            facts.emplace_back(std::in_place_type<QualityFact>, QualityFact{LocalTime{}, 1, values});
        }
        facts.emplace_back(std::in_place_type<RecordLineFact>,
                           RecordLineFact{LocalTime{}, "batch ending at " + std::to_string(committed + batch)});
        writer.Write(facts);
        committed += batch;
        std::printf("%lld\n", static_cast<long long>(committed));
        std::fflush(stdout);
    }
}
