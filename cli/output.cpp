#include "cli/output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "setup/text_encoding.h"

namespace cli {

namespace {

// Decodes the next code point; a malformed byte counts as one code point of its own.
uint32_t NextCodePoint(const std::string &s, std::size_t &i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    uint32_t cp = extra == 3 ? c & 0x07u : extra == 2 ? c & 0x0Fu : extra == 1 ? c & 0x1Fu : c;
    ++i;
    while (extra-- > 0 && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3Fu);
    return cp;
}

bool Wide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

std::string Pad(const std::string &text, std::size_t width) {
    const std::size_t w = DisplayWidth(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

}  // namespace

std::size_t DisplayWidth(const std::string &utf8) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) width += Wide(NextCodePoint(utf8, i)) ? 2 : 1;
    return width;
}

namespace {

// Length of the well-formed UTF-8 sequence at `i`, 0 when there is none.
std::size_t Utf8SequenceLength(const std::string &s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const unsigned char second = static_cast<unsigned char>(s[i + 1]);
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

}  // namespace

bool ValidUtf8(const std::string &text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string DisplayPath(const std::string &path) {
    return ValidUtf8(path) ? path : tevrolink::GbkToUtf8(path);
}

std::string JsonText(const Json &document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintJson(const Json &document) {
    std::fputs(JsonText(document).c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintTable(const std::vector<std::string> &headers,
                const std::vector<std::vector<std::string>> &rows) {
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t c = 0; c < headers.size(); ++c) widths[c] = DisplayWidth(headers[c]);
    for (const auto &row : rows)
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c)
            text += c + 1 == cells.size() ? cells[c] : Pad(cells[c], widths[c]) + "  ";
        std::printf("%s\n", text.c_str());
    };
    line(headers);
    for (const auto &row : rows) line(row);
    std::fflush(stdout);
}

void PrintFields(const std::vector<std::pair<std::string, std::string>> &fields) {
    std::size_t width = 0;
    for (const auto &f : fields) width = std::max(width, DisplayWidth(f.first) + 1);
    for (const auto &f : fields) std::printf("%s  %s\n", Pad(f.first + ":", width).c_str(), f.second.c_str());
    std::fflush(stdout);
}

}  // namespace cli
