// Manager benchmark: the CPU that meradon takes with the link open in data transfer mode and
// nothing to do, how soon the first data packet after that quiet spell is on disk, its
// resident memory while a station floods it with data packets, and the rate at which the
// manager core sends a file over a paced 115200-baud pty. Prints figures; decides nothing.
//
//   manager_bench [--idle-seconds N] [--flood-seconds N] [--flood-rate N] [--file-bytes N]
//                 [--meradon PATH]
//
// meradon runs as its own process (offscreen), pointed at a hostsim on 127.0.0.1 that runs
// inside the benchmark, so the figures of its process are meradon's alone.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "sim/host_sim.h"
#include "sim/station_traffic.h"
#include "tests/bench/bench_options.h"
#include "tests/manager/hostsim_session.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr uint32_t kLineRate = 115200;
constexpr uint8_t kStation = 5;
constexpr uint8_t kStatusQuery = 0x1C;
constexpr uint8_t kStreamFrame = 0x1D;
constexpr uint8_t kStatusReport = 0x9D;

struct Options {
    int idleSeconds = 25;
    int floodSeconds = 60;
    int floodRate = 1000;
    std::size_t fileBytes = 1 << 20;
    std::string meradon = MERADON_PROGRAM;
};

// ---- meradon as a process --------------------------------------------------------------

struct ThreadTicks {
    std::string name;
    long ticks = 0;
};

// utime + stime of /proc/<pid>[/task/<tid>]/stat, in clock ticks; the name is the one in
// brackets, which may itself hold spaces and brackets.
ThreadTicks ReadTicks(const std::string &statPath) {
    std::ifstream in(statPath);
    std::string line;
    std::getline(in, line);
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return {};
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    // After the name: state is field 3, utime field 14, stime field 15.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::strtol(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtol(field.c_str(), nullptr, 10);
    }
    return {line.substr(open + 1, close - open - 1), utime + stime};
}

long ResidentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Datagrams the kernel dropped for want of room in the receive buffers of the process's UDP
// sockets (the last column of /proc/net/udp, for the sockets among its descriptors).
long UdpDrops(pid_t pid) {
    std::set<std::string> inodes;
    for (const auto &fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
    std::ifstream in("/proc/net/udp");
    long drops = 0;
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
        if (f.size() > 9 && inodes.count(f[9])) drops += std::strtol(f.back().c_str(), nullptr, 10);
    }
    return drops;
}

class MeradonProcess {
public:
    MeradonProcess(const std::string &program, const std::filesystem::path &outputDir, uint16_t hostPort) {
        const std::string connect = "127.0.0.1:" + std::to_string(hostPort);
        const std::string dir = outputDir.string();
        std::vector<const char *> argv = {program.c_str(), "--output-dir", dir.c_str(), "--connect",
                                          connect.c_str(), "--data-mode", nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, const_cast<char **>(argv.data()), environ) != 0)
            pid_ = -1;
    }
    ~MeradonProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);  // meradon ends as on "退出"
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    MeradonProcess(const MeradonProcess &) = delete;
    MeradonProcess &operator=(const MeradonProcess &) = delete;

    bool Running() const { return pid_ > 0 && kill(pid_, 0) == 0; }
    pid_t Pid() const { return pid_; }

    long Ticks() const { return ReadTicks("/proc/" + std::to_string(pid_) + "/stat").ticks; }
    std::map<pid_t, ThreadTicks> ThreadTicksNow() const {
        std::map<pid_t, ThreadTicks> threads;
        for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task"))
            threads[static_cast<pid_t>(std::stol(task.path().filename().string()))] =
                ReadTicks((task.path() / "stat").string());
        return threads;
    }

private:
    pid_t pid_ = -1;
};

// The worker asks for the host node's status only in data transfer mode.
bool WaitForDataMode(hostsim::HostSim &sim) {
    return sim.WaitForReceived(hostsim::WithCode(kStatusQuery), 20s).has_value();
}

void IdleCpu(MeradonProcess &meradon, int seconds) {
    std::this_thread::sleep_for(2s);  // start-up work (the window, the first reads) is over
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    const auto threadsBefore = meradon.ThreadTicksNow();
    const long before = meradon.Ticks();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long used = meradon.Ticks() - before;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("idle       meradon in data transfer mode, nothing to do: %.2f CPU seconds in %.1f s, "
                "%.2f%% of one core\n",
                static_cast<double>(used) / tick, wall, 100.0 * static_cast<double>(used) / tick / wall);
    for (const auto &[tid, now] : meradon.ThreadTicksNow()) {
        const auto was = threadsBefore.find(tid);
        const long spent = now.ticks - (was == threadsBefore.end() ? 0 : was->second.ticks);
        if (spent > 0)
            std::printf("           %s thread %-16s %.2f%%\n", tid == meradon.Pid() ? "main " : "other",
                        now.name.c_str(), 100.0 * static_cast<double>(spent) / tick / wall);
    }
}

// Bytes of the files in the output directory: what meradon has written of the payloads.
std::uintmax_t BytesOnDisk(const std::filesystem::path &outputDir) {
    std::uintmax_t bytes = 0;
    for (const auto &entry : std::filesystem::directory_iterator(outputDir))
        if (entry.is_regular_file()) bytes += entry.file_size();
    return bytes;
}

// One data packet after the quiet spell, timed from its sending until its payload is in
// the received file: the worker's poll of the link, the window's wake-up, the write.
void FirstPacketAfterQuiet(hostsim::HostSim &sim, const std::filesystem::path &outputDir) {
    const std::vector<uint8_t> payload(64, 0xA5);
    const std::uintmax_t before = BytesOnDisk(outputDir);
    const auto start = Clock::now();
    sim.SendFrame(tevrolink::kCodeData, 0xFF, kStation, hostsim::kAttrFile, payload);
    while (BytesOnDisk(outputDir) < before + payload.size() && Clock::now() - start < 5s)
        std::this_thread::sleep_for(100us);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (BytesOnDisk(outputDir) < before + payload.size())
        std::printf("first      the data packet after the quiet spell was not on disk after %.0f ms\n", ms);
    else
        std::printf("first      the data packet after the quiet spell was on disk %.2f ms after it was sent\n", ms);
}

void Flood(hostsim::HostSim &sim, MeradonProcess &meradon, const std::filesystem::path &outputDir,
           int seconds, int rate) {
    // Middle packets of one file from one station: the manager writes them into one
    // received file, so what grows on disk is the data, and the record gets no lines. They
    // go out as frames of their own: the node's link protocol spaces its data packets out.
    const std::vector<uint8_t> payload(64, 0x5A);
    const auto period = std::chrono::nanoseconds(1'000'000'000LL / rate);
    const auto start = Clock::now();
    std::vector<long> rss = {ResidentKiB(meradon.Pid())};
    const double cpuBefore = static_cast<double>(meradon.Ticks());
    const long dropsBefore = UdpDrops(meradon.Pid());
    const std::uintmax_t onDiskBefore = BytesOnDisk(outputDir);
    long sent = 0;
    auto next = start;
    for (int second = 1; second <= seconds; ++second) {
        const auto end = start + std::chrono::seconds(second);
        for (; next < end; next += period, ++sent) {
            std::this_thread::sleep_until(next);
            sim.SendFrame(tevrolink::kCodeData, static_cast<uint8_t>(sent), kStation, hostsim::kAttrFile, payload);
        }
        if (second % 10 == 0 || second == seconds) rss.push_back(ResidentKiB(meradon.Pid()));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = (static_cast<double>(meradon.Ticks()) - cpuBefore) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::this_thread::sleep_for(1s);  // the last packets reach the file
    const std::uintmax_t received = BytesOnDisk(outputDir) - onDiskBefore;

    std::printf("flood      %ld data packets in %.1f s (%.0f a second); meradon wrote %ju of %ld "
                "payload bytes; %ld datagrams dropped by its socket; CPU %.1f%% of one core\n",
                sent, wall, static_cast<double>(sent) / wall, received,
                sent * static_cast<long>(payload.size()), UdpDrops(meradon.Pid()) - dropsBefore, 100.0 * cpu / wall);
    std::printf("           VmRSS every 10 s:");
    for (long kib : rss) std::printf(" %ld", kib);
    std::printf(" KiB (start %ld, middle %ld, end %ld)\n", rss.front(), rss[rss.size() / 2], rss.back());
}

void RunMeradon(const Options &options) {
    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    sim->AddStations({kStation}, true);
    const auto dir = meradon_test::FreshDirectory("bench");
    std::filesystem::create_directories(dir);
    {
        MeradonProcess meradon(options.meradon, dir, sim->Port());
        if (!meradon.Running() || !WaitForDataMode(*sim)) {
            std::fprintf(stderr, "meradon (%s) did not reach data transfer mode\n", options.meradon.c_str());
        } else {
            IdleCpu(meradon, options.idleSeconds);
            FirstPacketAfterQuiet(*sim, dir);
            Flood(*sim, meradon, dir, options.floodSeconds, options.floodRate);
        }
    }
    std::filesystem::remove_all(dir);
}

// ---- the manager core sending a file over a paced pty ----------------------------------

void SendFile(std::size_t size) {
    hostsim::PtyOptions pty;
    pty.baud = kLineRate;
    pty.pace = true;
    meradon_test::HostSimSession s("bench-send", hostsim::HostSim::StartPty(pty));
    s.sim->AddStations({kStation}, true);
    s.sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = kStation; });
    if (!s.Open(kLineRate) || !s.EnterDataMode(kStation) ||
        !s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 5s)) {
        std::fprintf(stderr, "pty: the manager did not reach data transfer mode\n");
        return;
    }
    const std::string path = s.WriteFile("bench.bin", meradon_test::Pattern(size, 0x3C));
    const auto start = Clock::now();
    if (s.manager.PrepareSending(path) != meradon::PrepareResult::Armed) return;
    const bool over = s.RunWindowUntil(
        [&] { return s.State().sendState.load() == meradon::IDLE && !s.State().sendFile.IsOpen(); },
        std::chrono::seconds(60 + size / 4000));
    const double whole = std::chrono::duration<double>(Clock::now() - start).count();
    const auto files = s.sim->ReceivedFiles(kStation);
    const bool intact = files.size() == 1 && files[0].sizeOk && files[0].crcOk;

    // The stream's pace, from the node's record: from the arrival of the first data chunk
    // to that of the last, the bytes of the chunks after the first.
    std::vector<hostsim::RecordedFrame> chunks, reports;
    for (auto &f : s.sim->Received())
        if (f.Code() == kStreamFrame && f.Payload().size() > 8) chunks.push_back(std::move(f));
    for (auto &f : s.sim->Sent())
        if (f.Code() == kStatusReport) reports.push_back(std::move(f));
    if (!over || chunks.size() < 2 || reports.empty()) {
        std::fprintf(stderr, "pty: the sending did not finish (state %c)\n", s.State().sendState.load());
        return;
    }
    std::size_t bytes = 0;
    for (std::size_t i = 1; i < chunks.size(); ++i) bytes += chunks[i].Payload().size();
    const double streamSeconds = std::chrono::duration<double>(chunks.back().at - chunks.front().at).count();
    const double rate = static_cast<double>(bytes) / streamSeconds;
    const double byteSeconds = 10.0 / kLineRate;
    const std::size_t reportSize = reports.front().bytes.size();
    // Stop and wait: each 200-byte chunk crosses the line with its header, then the status
    // report that acknowledges it comes back; ten bits a byte.
    const double limit = 200.0 / (static_cast<double>(200 + 8 + reportSize) * byteSeconds);
    std::printf("pty-115200 manager core sends %zu bytes to station %u: %s in %.1f s from Send to the report; "
                "stream %.0f bytes/s in %zu chunks, %.1f%% of the stop-and-wait limit of %.0f bytes/s\n",
                size, kStation, intact ? "arrived intact" : "ARRIVED DAMAGED", whole, rate, chunks.size(),
                100.0 * rate / limit, limit);

    // The manager's turn-round: from the last byte of a chunk's report on the line to the
    // first byte of the next chunk.
    std::vector<double> turns;
    std::size_t r = 0;
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
        while (r < reports.size() && reports[r].at < chunks[i].at) ++r;
        if (r == reports.size()) break;
        const auto reportEnd = reports[r].at + std::chrono::duration<double>(byteSeconds * static_cast<double>(reportSize));
        const auto nextStart = chunks[i + 1].at - std::chrono::duration<double>(byteSeconds * static_cast<double>(chunks[i + 1].bytes.size()));
        turns.push_back(std::chrono::duration<double, std::milli>(nextStart - reportEnd).count());
    }
    std::sort(turns.begin(), turns.end());
    if (!turns.empty())
        std::printf("           turn-round from a report to the next chunk: median %.2f ms, 90th percentile %.2f ms\n",
                    turns[turns.size() / 2], turns[turns.size() * 9 / 10]);
}

Options Parse(int argc, char **argv) {
    Options o;
    bench::ParseOptions(argc, argv,
                        "[--idle-seconds N] [--flood-seconds N] [--flood-rate N] [--file-bytes N] [--meradon PATH]",
                        [&](const std::string &key, const char *text) {
                            const long value = std::strtol(text, nullptr, 10);
                            if (key == "--idle-seconds") o.idleSeconds = static_cast<int>(value);
                            else if (key == "--flood-seconds") o.floodSeconds = static_cast<int>(value);
                            else if (key == "--flood-rate") o.floodRate = static_cast<int>(std::max(1L, value));
                            else if (key == "--file-bytes") o.fileBytes = static_cast<std::size_t>(value);
                            else if (key == "--meradon") o.meradon = text;
                            else return false;
                            return true;
                        });
    return o;
}

}  // namespace

int main(int argc, char **argv) {
    const Options options = Parse(argc, argv);
    RunMeradon(options);
    SendFile(options.fileBytes);
    return 0;
}
