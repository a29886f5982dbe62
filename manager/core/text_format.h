// printf-style formatting into a std::string, for the fixed texts of records, controls,
// file names and trace lines.
#pragma once

#include <string>

namespace meradon {

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace meradon
