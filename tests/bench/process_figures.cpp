#include "tests/bench/process_figures.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace bench {

ThreadTicks ReadTicks(const std::string &statPath) {
    std::ifstream in(statPath);
    std::string line;
    std::getline(in, line);
    // The name is the one in brackets, which may itself hold spaces and brackets.
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

long ProcessTicks(pid_t pid) { return ReadTicks("/proc/" + std::to_string(pid) + "/stat").ticks; }

std::map<pid_t, ThreadTicks> TicksOfThreads(pid_t pid) {
    std::map<pid_t, ThreadTicks> threads;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
        threads[static_cast<pid_t>(std::stol(task.path().filename().string()))] =
            ReadTicks((task.path() / "stat").string());
    return threads;
}

long ResidentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

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

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

ResidentSampler::ResidentSampler(pid_t pid)
    : pid_(pid), before_(ResidentKiB(pid)), peak_(before_), thread_([this] {
          while (!stop_.load()) {
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              Sample();
          }
      }) {}

ResidentSampler::~ResidentSampler() {
    stop_ = true;
    thread_.join();
}

long ResidentSampler::PeakKiB() {
    Sample();
    std::lock_guard lock(mutex_);
    return peak_;
}

void ResidentSampler::Sample() {
    const long now = ResidentKiB(pid_);
    std::lock_guard lock(mutex_);
    peak_ = std::max(peak_, now);
}

}  // namespace bench
