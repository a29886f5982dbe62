// The operation record's lines as both front ends keep them: how a line is stamped, and
// the saved report, "Report-<link> yy-mm-dd hh-mm-ss.txt" in GBK with CR LF between lines
// (as the original program wrote it, and as the tools that read these files expect).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "manager/core/clock.h"
#include "manager/core/output_directory.h"
#include "manager/core/view.h"

namespace meradon {

// "[hh:mm:ss] text", or the text behind six spaces.
std::string RecordLine(const std::string &text, LineStyle style, const LocalTime &t);

// Writes `lines` (UTF-8) into a new report file of the output directory. Returns its path,
// or an empty path when it could not be written.
std::filesystem::path SaveReport(const OutputDirectory &output, const std::string &selector,
                                 const LocalTime &t, const std::vector<std::string> &lines);

}  // namespace meradon
