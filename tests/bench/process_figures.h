// What the kernel tells about a process from outside it: CPU ticks of the process and of
// each of its threads, resident memory (sampled on a thread for its peak), and datagrams
// dropped by its UDP sockets; and the machine's load average, printed with every run so
// that a figure taken on a busy machine can be told apart.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

struct ThreadTicks {
    std::string name;
    long ticks = 0;
};

// utime + stime of /proc/<pid>[/task/<tid>]/stat, in clock ticks, with the thread's name.
ThreadTicks ReadTicks(const std::string &statPath);
long ProcessTicks(pid_t pid);
std::map<pid_t, ThreadTicks> TicksOfThreads(pid_t pid);

// VmRSS of the process in KiB, -1 once it has gone.
long ResidentKiB(pid_t pid);

// Datagrams the kernel dropped for want of room in the receive buffers of the process's UDP
// sockets (the last column of /proc/net/udp, for the sockets among its descriptors).
long UdpDrops(pid_t pid);

// The first line of /proc/loadavg.
std::string LoadAverage();

// VmRSS of a process every 100 ms from construction on: its value then, and the highest
// seen since (the last sample is taken when asked).
class ResidentSampler {
public:
    explicit ResidentSampler(pid_t pid);
    ~ResidentSampler();
    ResidentSampler(const ResidentSampler &) = delete;
    ResidentSampler &operator=(const ResidentSampler &) = delete;

    long BeforeKiB() const { return before_; }
    long PeakKiB();

private:
    void Sample();

    const pid_t pid_;
    const long before_;
    std::mutex mutex_;
    long peak_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace bench
