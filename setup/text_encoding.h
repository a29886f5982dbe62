// Texts that devices send are GBK; the rest of the program speaks UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tevrolink {

// Converts GBK bytes to UTF-8, stopping at the first NUL; bytes that are not valid GBK
// become U+FFFD rather than being dropped silently.
std::string GbkToUtf8(std::string_view gbk);
// Converts UTF-8 to GBK; characters GBK lacks become '?'.
std::string Utf8ToGbk(std::string_view utf8);

}  // namespace tevrolink
