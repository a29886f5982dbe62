#include "manager/core/output_directory.h"

#include <cerrno>
#include <system_error>

#include "manager/core/text_format.h"

namespace meradon {

namespace {

// Longest name of one path component on Linux file systems, in bytes.
constexpr std::size_t kNameMax = 255;
// The link text keeps at most this many characters, as the window's selector does.
constexpr std::size_t kSelectorMax = 255;

std::string DatePart(const LocalTime &t, const char *extension) {
    return Format(" %02u-%02u-%02u %02u-%02u-%02u.%s", static_cast<unsigned>(t.year - 2000),
                  static_cast<unsigned>(t.month), static_cast<unsigned>(t.day),
                  static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute),
                  static_cast<unsigned>(t.second), extension);
}

// Names tried for a new file before giving up.
constexpr int kNewNameTries = 1000;

// Joins link part and the rest, shortening the link part so the name fits one component.
std::string FitName(std::string link, const std::string &rest) {
    if (link.size() + rest.size() > kNameMax) link.resize(kNameMax - rest.size());
    return link + rest;
}

}  // namespace

std::string LinkNamePart(const std::string &selector) {
    std::string text = selector.substr(0, kSelectorMax);
    text = text.substr(0, text.find('\0'));
    std::size_t slash = text.find_last_of('/');
    if (slash != std::string::npos) text.erase(0, slash + 1);
    return text;
}

std::string ReceiveFileName(const std::string &selector, unsigned station, const LocalTime &t) {
    return FitName(LinkNamePart(selector), Format("-%u", station) + DatePart(t, "txt"));
}

std::string TraceFileName(const std::string &selector, const LocalTime &t) {
    return FitName(LinkNamePart(selector), DatePart(t, "log"));
}

std::string ReportFileName(const std::string &selector, const LocalTime &t) {
    return FitName("Report-" + LinkNamePart(selector), DatePart(t, "txt"));
}

std::string SendingsFileName(const LocalTime &t) { return "Sendings" + DatePart(t, "csv"); }

OutputDirectory::OutputDirectory(std::filesystem::path directory)
    : directory_(std::filesystem::absolute(directory)) {}

FileHandle OutputDirectory::Open(const std::string &name, const char *mode) const {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return nullptr;
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    return FileHandle(std::fopen((directory_ / name).c_str(), mode));
}

FileHandle OutputDirectory::CreateNew(const std::string &name, std::string &created) const {
    const std::size_t dot = name.rfind('.');
    const std::string stem = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot);
    for (int n = 1; n <= kNewNameTries; ++n) {
        created = n == 1 ? name : FitName(stem, Format(" (%d)", n) + extension);
        // "x": fails when the file exists, so the check and the creation are one step.
        FileHandle file = Open(created, "wbx");
        if (file || errno != EEXIST) return file;
    }
    return nullptr;
}

}  // namespace meradon
