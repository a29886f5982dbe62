#include "setup/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace tevrolink {
namespace {

std::string Convert(std::string_view in, const char *to, const char *from, std::string_view bad) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    char *src = const_cast<char *>(in.data());
    std::size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
        char *dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, sizeof buffer - dstLeft);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or truncated sequence: mark it and go on with the next byte.
            out.append(bad);
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    const std::size_t nul = gbk.find('\0');
    if (nul != std::string_view::npos) gbk = gbk.substr(0, nul);
    return Convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD");
}

std::string Utf8ToGbk(std::string_view utf8) {
    return Convert(utf8, "GBK", "UTF-8", "?");
}

}  // namespace tevrolink
