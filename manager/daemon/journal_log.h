// meradond's log: one line per event on standard error, which systemd's journal takes.
// Under the journal each line starts with the kernel-style priority ("<4>"), which the
// journal turns into the entry's priority; elsewhere with a word ("warning: ").
// No colour codes, and a line never spans two: line breaks of a text become " / ".
#pragma once

#include <string>

namespace meradon::daemon {

enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Safe from any thread; each line is one write.
void Log(LogLevel level, const std::string &text);

}  // namespace meradon::daemon
