// A program the benchmark starts and measures from outside: it is asked to end (SIGTERM)
// and waited for when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

class ChildProcess {
public:
    // Runs `program` with `args` in this process's environment; its output and errors go to
    // `logPath` when one is given.
    ChildProcess(const std::string &program, const std::vector<std::string> &args, const std::string &logPath = {});
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // SIGTERM, then waits for the end.
    void Stop();
    bool Running() const;
    pid_t Pid() const { return pid_; }
    // CPU time the process has used so far.
    double CpuSeconds() const;

private:
    pid_t pid_ = -1;
};

}  // namespace bench
