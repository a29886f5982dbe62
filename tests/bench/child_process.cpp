#include "tests/bench/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/bench/process_figures.h"

extern char **environ;

namespace bench {

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &args,
                           const std::string &logPath) {
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!logPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

void ChildProcess::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool ChildProcess::Running() const { return pid_ > 0 && kill(pid_, 0) == 0; }

double ChildProcess::CpuSeconds() const {
    return static_cast<double>(ProcessTicks(pid_)) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace bench
