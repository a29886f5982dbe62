// Link benchmark: round trips, stream throughput against the line's stop-and-wait limit,
// and the CPU a wait for a silent host node costs. Prints figures; decides nothing.
//
//   link_bench [--calls N] [--udp-bytes N] [--pty-bytes N]
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/checksum.h"
#include "link/receive.h"
#include "link/shell.h"
#include "sim/host_sim.h"
#include "tests/bench/bench_options.h"
#include "tevrolink/tevrolink.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kLineRate = 115200;
constexpr uint8_t kStation = 5;

struct Options {
    int calls = 1000;
    std::size_t udpBytes = 1 << 20;
    std::size_t ptyBytes = 64 << 10;
};

uint16_t FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::unique_ptr<hostsim::HostSim> Open(bool udp) {
    CloseShell();
    std::unique_ptr<hostsim::HostSim> sim;
    if (udp) {
        sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
        const uint16_t local = FreeUdpPort();
        sim->SetUdpPeer("127.0.0.1", local);
        if (!OpenNETShell("127.0.0.1", "127.0.0.1", local, sim->Port())) return nullptr;
    } else {
        hostsim::PtyOptions options;
        options.baud = kLineRate;
        options.pace = true;
        sim = hostsim::HostSim::StartPty(options);
        if (!OpenCOMShell(sim->PtyPath().c_str(), kLineRate)) return nullptr;
    }
    SetHostHandShake(0);
    return sim;
}

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

// Polls until `done` holds, waiting on the link between polls as the library's waits do.
template <typename Done>
bool Pump(Done done, int timeoutMs = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        if (IsShellReadable(nullptr, nullptr)) continue;
        tevrolink::WaitForLink(1);
    }
    return true;
}

void Throughput(const char *name, hostsim::HostSim &sim, std::size_t size, bool paced) {
    sim.AddStations({kStation}, true);
    sim.SetDrainRate(100'000'000);
    uint8_t out = 0;
    SetPeerNodeID(kStation, &out);
    StartNetCenter(1);
    QueryHostRTxStatus(nullptr);
    std::vector<uint8_t> content(size);
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<uint8_t>(i * 131 + 7);

    uint16_t room = 0;
    std::size_t sent = 0, frames = 0;
    const auto start = Clock::now();
    while (sent < size) {
        if (!Pump([&] { return IsShellWritable(nullptr, &room) == 1; })) break;
        const std::size_t n = std::min<std::size_t>(room, size - sent);
        if (WriteStreamToShell(content.data() + sent, static_cast<uint32_t>(n), kStation, 1, 0) != 1) break;
        sent += n;
        ++frames;
    }
    Pump([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = static_cast<double>(sent) / seconds;
    std::printf("%-10s stream writer loop: %zu bytes in %zu frames, %.0f bytes/s", name, sent, frames, rate);
    if (paced) {
        // Each 200-byte chunk costs 208 bytes one way and a 39-byte status report back,
        // ten bits a byte.
        const double limit = 200.0 / ((208.0 + 39.0) * 10.0 / kLineRate);
        std::printf(", %.1f%% of the stop-and-wait limit of %.0f bytes/s", 100.0 * rate / limit, limit);
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
        auto sim = Open(udp);
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
