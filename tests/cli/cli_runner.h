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
    ~Child();  // kills the child if it still runs
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t Pid() const { return pid_; }
    // Waits until standard output contains `text`; false on time-out or exit.
    bool WaitForOutput(const std::string &text, std::chrono::milliseconds timeout);
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

// ---- a small JSON reader, enough to check documents and pick fields ----------------------
struct Json;
using JsonObject = std::map<std::string, Json>;
using JsonArray = std::vector<Json>;
struct Json {
    std::variant<std::nullptr_t, bool, double, std::string, JsonArray, JsonObject> value;

    bool IsObject() const { return std::holds_alternative<JsonObject>(value); }
    bool IsArray() const { return std::holds_alternative<JsonArray>(value); }
    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    // Checked access: throws std::runtime_error naming what is missing.
    const Json &operator[](const std::string &key) const;
    const Json &operator[](std::size_t index) const;
    std::size_t Size() const;
    double Number() const;
    int Int() const { return static_cast<int>(Number()); }
    const std::string &Str() const;
    bool Bool() const;
};

// Parses exactly one JSON document (with surrounding white space); nullopt when the text
// is not valid JSON.
std::optional<Json> ParseJson(const std::string &text);

// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string &text);

// A free UDP port on 127.0.0.1.
uint16_t FreeUdpPort();

// A file of `size` bytes with a recognisable pattern, in a fresh temporary directory.
std::string MakeFile(const std::string &name, std::size_t size, unsigned seed = 1);
std::string TempPath(const std::string &name);
std::string ReadWholeFile(const std::string &path);

}  // namespace clitest
