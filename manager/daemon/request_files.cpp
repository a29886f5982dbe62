#include "manager/daemon/request_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "manager/core/text_format.h"

namespace meradon::daemon {

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::optional<std::filesystem::path> FileInSendDir(const std::filesystem::path &dir, const std::string &name,
                                                   std::string &error) {
    if (dir.empty()) {
        error = "no send directory is configured";
        return std::nullopt;
    }
    const Descriptor base(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (base.Get() < 0) {
        error = "the send directory cannot be opened: " + std::string(std::strerror(errno));
        return std::nullopt;
    }
    // Non-blocking, so that a FIFO put there does not hold the main loop.
    open_how how {};
    how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const Descriptor file(static_cast<int>(::syscall(SYS_openat2, base.Get(), name.c_str(), &how, sizeof how)));
    if (file.Get() < 0) {
        const int e = errno;
        if (e == EXDEV || e == ELOOP)
            error = "file must stay inside the send directory";
        else if (e == ENOSYS)
            error = "this kernel cannot look a file up safely (openat2 is missing)";
        else
            error = "file " + name + ": " + std::strerror(e);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "file " + name + " is not a regular file";
        return std::nullopt;
    }
    char resolved[4096];
    const std::string link = Format("/proc/self/fd/%d", file.Get());
    const ssize_t n = ::readlink(link.c_str(), resolved, sizeof resolved - 1);
    if (n <= 0) {
        error = "file " + name + ": its path cannot be read back";
        return std::nullopt;
    }
    return std::filesystem::path(std::string(resolved, static_cast<size_t>(n)));
}

std::optional<std::filesystem::path> WriteRequestedFile(const std::filesystem::path &output,
                                                        const std::string &name, const std::string &bytes,
                                                        std::string &error) {
    const std::filesystem::path folder = output / kRequestedFolder;
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%y-%m-%d %H-%M-%S", &local);
    for (int copy = 1; copy < 1000; ++copy) {
        const std::filesystem::path path = folder / (copy == 1 ? Format("%s %s", stamp, name.c_str())
                                                               : Format("%s (%d) %s", stamp, copy, name.c_str()));
        const Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (file.Get() < 0 && errno == EEXIST) continue;
        if (file.Get() < 0) break;
        size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(file.Get(), bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written += static_cast<size_t>(n);
        }
        if (written == bytes.size()) return path;
        error = "cannot write " + path.string() + ": " + std::strerror(errno);
        std::filesystem::remove(path, made);
        return std::nullopt;
    }
    error = "cannot make a file in " + folder.string() + ": " + std::strerror(errno);
    return std::nullopt;
}

}  // namespace meradon::daemon
