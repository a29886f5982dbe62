// The history store under load, in two parts; it prints figures and decides nothing.
//
// 1. A thread standing in for the worker queues quality samples at --rate a second for
//    --seconds, with a record line every 50 ms, while a reader draws the plot of a station
//    once a second: how long one enqueue takes (the worker must never wait on the store),
//    how long the plot's query takes while the store is written, and how far the writer
//    lags at the end.
//    Meanwhile a thread standing in for meradond's main loop appends MQTT messages of a
//    received file's size to the outbox, --outbox-rate a second, and acknowledges each
//    once it can be read back: how long an append holds up the main loop, and how long
//    the writer takes to put it on the disk while it writes the samples.
// 2. --days (a year unless given) of --year-stations stations, one sample every 8 s each,
//    generated straight into a scratch store in time order (as a store fills): the time of
//    one station's span thinned for the plot, and the store's size per sample, scaled to a
//    year of 254 stations. With all 254 stations the index on (station, time) takes each
//    sample in the middle rather than at its end, so the size a sample takes is measured
//    at that count over a shorter span rather than guessed from a few stations.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "manager/core/history/history_reader.h"
#include "manager/core/history/history_store.h"
#include "manager/core/history/quality_rows.h"
#include "manager/core/history/schema.h"
#include "manager/daemon/outbox.h"
#include "tests/bench/bench_options.h"

using namespace meradon;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kPlotPoints = 1000;  // about what the plot's width can show
constexpr int64_t kYear = 365LL * 24 * 3600;
constexpr int64_t kSampleEvery = 8;

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

uint64_t StoreBytes(const std::filesystem::path &file) {
    uint64_t bytes = 0;
    for (const char *suffix : {"", "-wal"}) {
        std::error_code error;
        const auto size = std::filesystem::file_size(file.string() + suffix, error);
        if (!error) bytes += size;
    }
    return bytes;
}

// The main loop's appends to the outbox until `done`, one every `every`: how long one
// takes, and how long until the message can be read back to be sent.
struct OutboxFigures {
    std::vector<double> appendUs, readableMs;
};

OutboxFigures AppendToOutbox(HistoryStore &store, const std::filesystem::path &file, std::chrono::nanoseconds every,
                             const std::atomic<bool> &done) {
    OutboxFigures figures;
    daemon::Outbox outbox(store, file, 100 * 1024 * 1024);
    const std::string payload(1600, 'A');  // a file of 1 KiB with its base64 and fields
    int64_t last = outbox.Start();
    for (auto next = Steady::now(); !done.load(); next += every) {
        std::this_thread::sleep_until(next);
        const auto t0 = Steady::now();
        outbox.Append("meradon/bench/station/2/received", payload);
        figures.appendUs.push_back(Ms(Steady::now() - t0) * 1000);
        std::vector<daemon::OutboxMessage> written;
        while ((written = outbox.After(last, 1)).empty()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        figures.readableMs.push_back(Ms(Steady::now() - t0));
        last = written.front().sequence;
        outbox.Acknowledged({last});
    }
    return figures;
}

void UnderLoad(const std::filesystem::path &dir, int seconds, int rate, int outboxRate) {
    HistoryStore store;
    store.Open(dir, {});
    const std::filesystem::path file = dir / kHistoryFileName;
    store.Flush();  // the store is made before the outbox reads it
    std::atomic<bool> done{false};
    OutboxFigures outbox;
    std::thread mainLoop;
    if (outboxRate > 0)
        mainLoop = std::thread([&] {
            outbox = AppendToOutbox(store, file, std::chrono::nanoseconds(1'000'000'000LL / outboxRate), done);
        });
    std::vector<double> plotMs;
    std::thread plot([&] {
        while (!done.load()) {
            const auto next = Steady::now() + std::chrono::seconds(1);
            try {
                HistoryReader reader(file);
                const auto t0 = Steady::now();
                reader.ThinnedQuality(1, kFromTheStart, kUntilNow, kPlotPoints);
                plotMs.push_back(Ms(Steady::now() - t0));
            } catch (const DatabaseError &) {
                // not created yet
            }
            std::this_thread::sleep_until(next);
        }
    });

    std::vector<double> enqueueUs;
    enqueueUs.reserve(static_cast<std::size_t>(seconds) * rate);
    const auto start = Steady::now();
    const auto every = std::chrono::nanoseconds(1'000'000'000LL / rate);
    const int total = seconds * rate;
    for (int i = 0; i < total; ++i) {
        std::this_thread::sleep_until(start + every * i);
        const LocalTime now = LocalFromEpoch(std::time(nullptr));
        QualityFact sample{now, static_cast<uint8_t>(i % kLastQualityStation + 1),
                           {uint8_t(i), uint8_t(i >> 8), 0x40, 0x50}};
        const auto t0 = Steady::now();
        store.Add(std::move(sample));
        if (i % (rate / 20 + 1) == 0) store.Add(RecordLineFact{now, "[00:00:00] line"});
        enqueueUs.push_back(Ms(Steady::now() - t0) * 1000);
    }
    const auto t0 = Steady::now();
    store.Flush();
    const double lagMs = Ms(Steady::now() - t0);
    done = true;
    plot.join();
    if (mainLoop.joinable()) mainLoop.join();
    store.Close();
    Database db(file, Database::Access::ReadOnly);
    std::printf("under load: %d samples at %d/s in %.1f s; %lld in the store\n", total, rate,
                Ms(Steady::now() - start) / 1000,
                static_cast<long long>(db.QueryInt("SELECT count(*) FROM quality").value_or(0)));
    std::printf("  enqueue: median %.2f us, 99.9 %% %.2f us, longest %.1f us\n", Percentile(enqueueUs, 0.5),
                Percentile(enqueueUs, 0.999), *std::max_element(enqueueUs.begin(), enqueueUs.end()));
    std::printf("  writer behind at the end: %.1f ms\n", lagMs);
    std::printf("  plot of station 1 while written (%zu queries): median %.1f ms, longest %.1f ms\n",
                plotMs.size(), Percentile(plotMs, 0.5),
                plotMs.empty() ? 0.0 : *std::max_element(plotMs.begin(), plotMs.end()));
    if (!outbox.appendUs.empty()) {
        std::printf("  outbox append meanwhile (%zu at %d/s): median %.2f us, longest %.1f us\n",
                    outbox.appendUs.size(), outboxRate, Percentile(outbox.appendUs, 0.5),
                    *std::max_element(outbox.appendUs.begin(), outbox.appendUs.end()));
        std::printf("    readable to be sent after: median %.1f ms, 99 %% %.1f ms, longest %.1f ms\n",
                    Percentile(outbox.readableMs, 0.5), Percentile(outbox.readableMs, 0.99),
                    *std::max_element(outbox.readableMs.begin(), outbox.readableMs.end()));
    }
    std::printf("  store: %.1f MB\n", StoreBytes(file) / 1e6);
}

// Where the store's bytes go, table by table and index by index (SQLite's dbstat, where the
// library has it built in).
void PrintShares(const std::filesystem::path &file) {
    try {
        Database db(file, Database::Access::ReadOnly);
        Statement shares(db, "SELECT name, sum(pgsize) * 100.0 / (SELECT sum(pgsize) FROM dbstat) FROM dbstat "
                             "GROUP BY name ORDER BY 2 DESC");
        std::printf("  by table and index:");
        while (shares.Step())
            if (shares.Real(1) >= 0.1) std::printf(" %s %.1f %%", shares.Text(0).c_str(), shares.Real(1));
        std::printf("\n");
    } catch (const DatabaseError &) {
        // No dbstat in this SQLite: the total alone.
    }
}

void AYear(const std::filesystem::path &dir, int stations, int days) {
    const std::filesystem::path file = dir / "year.sqlite";
    const int64_t span = days * 86400LL;
    const int64_t start = std::time(nullptr) - span;
    const auto t0 = Steady::now();
    {
        Database db(file, Database::Access::ReadWrite);
        PrepareHistorySchema(db);
        db.Exec("PRAGMA synchronous=OFF");  // a scratch file: only the layout matters
        QualityRows rows(db);
        for (int64_t t = 0; t < span;) {
            Transaction transaction(db);
            for (const int64_t end = std::min(span, t + 3600); t < end; t += kSampleEvery)
                for (int s = 1; s <= stations; ++s)
                    rows.Insert(start + t, static_cast<uint8_t>(s),
                                {uint8_t(t / 3600), uint8_t(s), uint8_t(t / 86400), 0x50});
            transaction.Commit();
        }
        db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const double buildS = Ms(Steady::now() - t0) / 1000;
    HistoryReader reader(file);
    std::vector<double> queryMs;
    std::size_t points = 0;
    for (int i = 0; i < 5; ++i) {
        const auto q0 = Steady::now();
        points = reader.ThinnedQuality(1, kFromTheStart, kUntilNow, kPlotPoints).size();
        queryMs.push_back(Ms(Steady::now() - q0));
    }
    const auto d0 = Steady::now();
    const std::size_t day = reader.Quality(1, start + span - 86400, kUntilNow).size();
    const double dayMs = Ms(Steady::now() - d0);
    const uint64_t bytes = StoreBytes(file);
    const double samples = static_cast<double>(span / kSampleEvery) * stations;
    const double perSample = bytes / samples;
    std::printf("%d days of %d stations, one sample every %lld s: %.0f samples, built in %.0f s\n", days, stations,
                static_cast<long long>(kSampleEvery), samples, buildS);
    std::printf("  one station's %d days thinned to %zu points: first %.1f ms, then median %.1f ms\n", days, points,
                queryMs[0], Percentile({queryMs.begin() + 1, queryMs.end()}, 0.5));
    std::printf("  one station's last day, every sample (%zu): %.1f ms\n", day, dayMs);
    std::printf("  store: %.2f GB, %.1f bytes a sample; a year of 254 stations at that: about %.0f GB\n",
                bytes / 1e9, perSample, perSample * kYear / kSampleEvery * 254 / 1e9);
    PrintShares(file);
}

}  // namespace

int main(int argc, char **argv) {
    int seconds = 60, rate = 1000, outboxRate = 20, yearStations = 4, days = 365;
    bench::ParseOptions(argc, argv, "[--seconds N] [--rate N] [--outbox-rate N] [--year-stations N] [--days N]",
                        [&](const std::string &name, const char *value) {
                            if (name == "--seconds") seconds = std::atoi(value);
                            else if (name == "--rate") rate = std::atoi(value);
                            else if (name == "--outbox-rate") outboxRate = std::atoi(value);
                            else if (name == "--year-stations") yearStations = std::atoi(value);
                            else if (name == "--days") days = std::max(1, std::atoi(value));
                            else return false;
                            return true;
                        });
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is measured
    const auto dir = std::filesystem::temp_directory_path() / ("history-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    if (seconds > 0 && rate > 0) UnderLoad(dir, seconds, rate, outboxRate);
    if (yearStations > 0) AYear(dir, std::min(yearStations, int{kLastQualityStation}), days);
    std::filesystem::remove_all(dir);
}
