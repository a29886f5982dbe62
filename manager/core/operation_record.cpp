#include "manager/core/operation_record.h"

#include <cstdio>

#include "manager/core/text_format.h"
#include "setup/text_encoding.h"

namespace meradon {

std::string RecordLine(const std::string &text, LineStyle style, const LocalTime &t) {
    if (style == LineStyle::Indented) return "      " + text;
    return Format("[%02d:%02d:%02d] ", t.hour, t.minute, t.second) + text;
}

std::filesystem::path SaveReport(const OutputDirectory &output, const std::string &selector,
                                 const LocalTime &t, const std::vector<std::string> &lines) {
    const std::string name = ReportFileName(selector, t);
    FileHandle file = output.Open(name, "wb");
    if (!file) return {};
    std::string bytes;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) bytes += "\r\n";
        bytes += tevrolink::Utf8ToGbk(lines[i]);
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) return {};
    return output.Path() / name;
}

}  // namespace meradon
