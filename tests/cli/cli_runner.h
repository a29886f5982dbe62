// Running the tevrolink program as a child process and looking at what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "cli/json_reader.h"
#include "tests/support/free_udp_port.h"

namespace clitest {

struct Result {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out, err;
};

// One run of the program; its output is collected while it runs, so a test can wait for
// a line before it acts (never for a time).
class Child {
public:
    explicit Child(const std::vector<std::string> &args);
    // Any program, found on the PATH, with `environment` ("NAME=value") added to ours.
    Child(const std::string &program, const std::vector<std::string> &args,
          const std::vector<std::string> &environment);
    ~Child();  // kills the child if it still runs
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t Pid() const { return pid_; }
    // Waits until standard output contains `text`; false on time-out or exit.
    bool WaitForOutput(const std::string &text, std::chrono::milliseconds timeout);
    // Waits until standard error contains `text` `times` times; false on time-out or exit.
    bool WaitForError(const std::string &text, std::chrono::milliseconds timeout, std::size_t times = 1);
    // Waits for the end; a child still running after `timeout` is killed (status -1).
    Result Finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    void Collect(int outFd, int errFd);
    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    bool closed_ = false;
    bool finished_ = false;
};

// Runs the program to its end.
Result RunProgram(const std::vector<std::string> &args);

// Documents the program prints are read with its own reader.
using cli::Json;
using cli::ParseJson;

// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string &text);

using test_support::FreeUdpPort;

// A file of `size` bytes with a recognisable pattern, in a fresh temporary directory.
std::string MakeFile(const std::string &name, std::size_t size, unsigned seed = 1);
std::string TempPath(const std::string &name);
std::string ReadWholeFile(const std::string &path);

}  // namespace clitest
