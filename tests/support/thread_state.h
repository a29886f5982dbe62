// What the kernel says about a thread of this process: whether it sleeps in a given system
// call, and how often it has gone to sleep.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace test_support {

inline std::string TaskFile(pid_t thread, const char *name) {
    return "/proc/self/task/" + std::to_string(thread) + "/" + name;
}

// Returns once `thread` sleeps in system call `number` (SYS_ppoll, SYS_futex); where the
// kernel does not say, at once.
inline void WaitUntilAsleepIn(pid_t thread, long number) {
    for (int tries = 0; tries < 5000; ++tries) {
        std::ifstream call(TaskFile(thread, "syscall")), stat(TaskFile(thread, "stat"));
        std::string now, line;  // the call's number, or "running"
        if (!(call >> now) || !std::getline(stat, line)) return;
        const std::size_t nameEnd = line.rfind(')');  // the name may hold spaces
        if (nameEnd == std::string::npos || nameEnd + 2 >= line.size()) return;
        if (now == std::to_string(number) && line[nameEnd + 2] == 'S') return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// How many times `thread` has gone to sleep of its own accord; -1 when the kernel does not say.
inline long VoluntarySwitches(pid_t thread) {
    std::ifstream status(TaskFile(thread, "status"));
    for (std::string key; status >> key;) {
        long count = -1;
        if (key == "voluntary_ctxt_switches:" && status >> count) return count;
    }
    return -1;
}

}  // namespace test_support
