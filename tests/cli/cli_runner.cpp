#include "tests/cli/cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace clitest {

Child::Child(const std::vector<std::string> &args) : Child(TEVROLINK_CLI_PATH, args, {}) {}

Child::Child(const std::string &program, const std::vector<std::string> &args,
             const std::vector<std::string> &environment) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    std::vector<char *> envp;  // ours first: the first of two equal names counts
    for (std::string &v : variables) envp.push_back(v.data());
    for (char **e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    reader_ = std::thread([this, o = out[0], e = err[0]] { Collect(o, e); });
}

Child::~Child() {
    if (!finished_) {
        kill(pid_, SIGKILL);
        Finish(std::chrono::seconds(5));
    }
}

void Child::Collect(int outFd, int errFd) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) continue;
        for (pollfd &p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(p.fd, buffer, sizeof buffer);
            std::lock_guard lock(mutex_);
            if (n > 0) {
                (p.fd == outFd ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
            } else {
                close(p.fd);
                p.fd = -1;
                --open;
            }
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool Child::WaitForOutput(const std::string &text, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return out_.find(text) != std::string::npos || closed_; }) &&
           out_.find(text) != std::string::npos;
}

bool Child::WaitForError(const std::string &text, std::chrono::milliseconds timeout, std::size_t times) {
    auto seen = [&] {
        std::size_t count = 0;
        for (size_t at = err_.find(text); at != std::string::npos; at = err_.find(text, at + text.size())) ++count;
        return count >= times;
    };
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return seen() || closed_; }) && seen();
}

Result Child::Finish(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return closed_; })) kill(pid_, SIGKILL);
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    if (reader_.joinable()) reader_.join();
    finished_ = true;
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::lock_guard lock(mutex_);
    r.out = out_;
    r.err = err_;
    return r;
}

Result RunProgram(const std::vector<std::string> &args) {
    Child child(args);
    return child.Finish();
}


std::size_t Json::Size() const {
    if (!value_.is_structured()) throw std::runtime_error("not an array or object: " + value_.dump());
    return value_.size();
}

std::optional<Json> ParseJson(const std::string &text) {
    try {
        return Json(nlohmann::json::parse(text));
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string TempPath(const std::string &name) {
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tevrolink-cli-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        return pattern;
    }();
    return dir + "/" + name;
}

std::string MakeFile(const std::string &name, std::size_t size, unsigned seed) {
    const std::string path = TempPath(name);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 7 + seed * 13 + i / 251) & 0xFF));
    return path;
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace clitest
