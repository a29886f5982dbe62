// Link benchmark: round trips, stream throughput against the line's stop-and-wait limit,
// and the CPU a wait for a silent host node costs. Prints figures; decides nothing.
//
//   link_bench [--calls N] [--udp-bytes N] [--pty-bytes N]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/host_sim.h"
#include "tests/bench/bench_options.h"
#include "tests/bench/stream_writer_loop.h"
#include "tevrolink/tevrolink.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint8_t kStation = 5;

struct Options {
    int calls = 1000;
    std::size_t udpBytes = 1 << 20;
    std::size_t ptyBytes = 64 << 10;
};

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void RoundTrips(const char *name, int calls) {
    std::vector<double> ms;
    int failed = 0;
    for (int i = 0; i < calls; ++i) {
        uint8_t id = 0, role = 0;
        const auto start = Clock::now();
        failed += GetHostNodeID(&id, &role) != 1;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("%-10s GetHostNodeID round trip over %d calls: median %.3f ms, 99th percentile %.3f ms%s\n",
                name, calls, Percentile(ms, 0.5), Percentile(ms, 0.99),
                failed ? (" (" + std::to_string(failed) + " failed)").c_str() : "");
}

void Throughput(const char *name, hostsim::HostSim &sim, std::size_t size, bool paced) {
    const bench::StreamRate rate = bench::RunStreamWriterLoop(sim, size, kStation);
    std::printf("%-10s stream writer loop: %zu bytes in %zu frames, %.0f bytes/s", name, rate.bytes, rate.frames,
                rate.bytesPerSecond);
    if (paced) {
        const double limit = bench::StopAndWaitLimit();
        std::printf(", %.1f%% of the stop-and-wait limit of %.0f bytes/s", 100.0 * rate.bytesPerSecond / limit, limit);
    }
    std::printf("\n");
}

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void SilentWait(const char *name, hostsim::HostSim &sim) {
    sim.SetSilent(true);
    uint8_t id = 0;
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    const int result = GetHostNodeID(&id, nullptr);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    std::printf("%-10s unanswered command: result %d after %.0f ms, %.4f CPU seconds (%.2f%% of one core)\n",
                name, result, wall * 1000, cpu, 100.0 * cpu / wall);
    sim.SetSilent(false);
}

Options Parse(int argc, char **argv) {
    Options o;
    bench::ParseOptions(argc, argv, "[--calls N] [--udp-bytes N] [--pty-bytes N]",
                        [&](const std::string &key, const char *text) {
                            const long value = std::strtol(text, nullptr, 10);
                            if (key == "--calls") o.calls = static_cast<int>(value);
                            else if (key == "--udp-bytes") o.udpBytes = static_cast<std::size_t>(value);
                            else if (key == "--pty-bytes") o.ptyBytes = static_cast<std::size_t>(value);
                            else return false;
                            return true;
                        });
    return o;
}

}  // namespace

int main(int argc, char **argv) {
    const Options options = Parse(argc, argv);
    for (const bool udp : {true, false}) {
        const char *name = udp ? "udp" : "pty-115200";
        auto sim = bench::OpenShellToHostSim(udp);
        if (!sim) {
            std::fprintf(stderr, "%s: cannot open the link to hostsim\n", name);
            return 1;
        }
        RoundTrips(name, options.calls);
        Throughput(name, *sim, udp ? options.udpBytes : options.ptyBytes, !udp);
        SilentWait(name, *sim);
        CloseShell();
    }
    return 0;
}
