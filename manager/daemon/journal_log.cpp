#include "manager/daemon/journal_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace meradon::daemon {

namespace {

// systemd names the stream it connected to standard error as "DEVICE:INODE".
bool StderrIsJournal() {
    const char *stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (!stream || ::fstat(STDERR_FILENO, &st) != 0) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    return device == st.st_dev && inode == st.st_ino;
}

const char *Word(LogLevel level) {
    switch (level) {
    case LogLevel::Error: return "error: ";
    case LogLevel::Warning: return "warning: ";
    case LogLevel::Notice: return "notice: ";
    case LogLevel::Info: return "info: ";
    }
    return "";
}

}  // namespace

void Log(LogLevel level, const std::string &text) {
    static const bool journal = StderrIsJournal();
    std::string line = journal ? "<" + std::to_string(static_cast<int>(level)) + ">" : Word(level);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' || text[i] == '\r')
            line += " / ";
        else
            line += text[i];
    }
    line += '\n';
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace meradon::daemon
