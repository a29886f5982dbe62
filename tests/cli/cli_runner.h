// Running the tevrolink program as a child process and looking at what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

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

// A document the program printed, read with checked access: a missing key or element, or
// a value of another type, throws and so fails the test that asked for it.
class Json {
public:
    Json() = default;
    explicit Json(nlohmann::json value) : value_(std::move(value)) {}

    Json operator[](const std::string &key) const { return Json(value_.at(key)); }
    Json operator[](std::size_t index) const { return Json(value_.at(index)); }
    std::size_t Size() const;  // of an array or object
    bool IsArray() const { return value_.is_array(); }
    double Number() const { return value_.get<double>(); }
    int Int() const { return value_.get<int>(); }
    std::string Str() const { return value_.get<std::string>(); }
    bool Bool() const { return value_.get<bool>(); }

private:
    nlohmann::json value_;
};

// Exactly one JSON document (with surrounding white space); nullopt when the text is not.
std::optional<Json> ParseJson(const std::string &text);

// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string &text);

using test_support::FreeUdpPort;

// A file of `size` bytes with a recognisable pattern, in a fresh temporary directory.
std::string MakeFile(const std::string &name, std::size_t size, unsigned seed = 1);
std::string TempPath(const std::string &name);
std::string ReadWholeFile(const std::string &path);

}  // namespace clitest
