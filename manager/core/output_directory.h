// The one directory that receives the manager's files (received files, trace logs). It
// is created on first use; files are opened by absolute path and the process never
// changes its working directory. Names are built from the link selector text, which may
// be a device path: only its last path component is used, and no name can leave the
// directory.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "manager/core/clock.h"
#include "manager/core/file_handle.h"

namespace meradon {

// The link part of a file name: the last path component of `selector` ("/dev/pts/3" gives
// "3"), cut so that a whole name with its date part stays within one path component.
std::string LinkNamePart(const std::string &selector);

// "<link>-<station> YY-MM-DD hh-mm-ss.txt"
std::string ReceiveFileName(const std::string &selector, unsigned station, const LocalTime &t);
// "<link> YY-MM-DD hh-mm-ss.log"
std::string TraceFileName(const std::string &selector, const LocalTime &t);
// "Report-<link> YY-MM-DD hh-mm-ss.txt": the saved operation record.
std::string ReportFileName(const std::string &selector, const LocalTime &t);
// "Sendings YY-MM-DD hh-mm-ss.csv": the saved list of sendings and their outcomes.
std::string SendingsFileName(const LocalTime &t);

class OutputDirectory {
public:
    explicit OutputDirectory(std::filesystem::path directory);

    const std::filesystem::path &Path() const { return directory_; }
    // Creates the directory if needed and opens `name` in it with `mode`. `name` must be
    // a single path component (as the functions above build them). Null on failure.
    FileHandle Open(const std::string &name, const char *mode) const;
    // Creates a file that does not exist yet: `name`, or when that exists the same name
    // with " (2)", " (3)" … before its extension, so that no file is ever replaced.
    // `created` receives the name used. Null on failure.
    FileHandle CreateNew(const std::string &name, std::string &created) const;

private:
    std::filesystem::path directory_;
};

}  // namespace meradon
