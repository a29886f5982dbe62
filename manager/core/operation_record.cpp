#include "manager/core/operation_record.h"

#include <cstdio>
#include <utility>

#include "manager/core/text_format.h"
#include "setup/text_encoding.h"

namespace meradon {

std::string RecordLineAsShown(const std::string &text, LineStyle style, const LocalTime &now) {
    if (style == LineStyle::Indented) return "      " + text;
    return Format("[%02d:%02d:%02d] ", now.hour, now.minute, now.second) + text;
}

std::string OperationRecord::Add(const std::string &text, LineStyle style, const LocalTime &now) {
    std::string line = RecordLineAsShown(text, style, now);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    return line;
}

void OperationRecord::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

namespace {

std::filesystem::path WriteReport(const OutputDirectory &output, const std::string &selector, const LocalTime &now,
                                  const std::vector<std::string> &lines) {
    if (lines.empty()) return {};
    const std::string bytes = ReportBytes(lines);
    const std::string name = ReportFileName(selector, now);
    FileHandle file = output.Open(name, "wb");
    if (!file) return {};
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) return {};
    return output.Path() / name;
}

}  // namespace

std::filesystem::path OperationRecord::Save(const OutputDirectory &output, const std::string &selector,
                                            const LocalTime &now) const {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines = lines_;
    }
    return WriteReport(output, selector, now, lines);
}

std::filesystem::path OperationRecord::SaveAndForget(const OutputDirectory &output, const std::string &selector,
                                                     const LocalTime &now) {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines.swap(lines_);
    }
    std::filesystem::path saved = WriteReport(output, selector, now, lines);
    if (saved.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.insert(lines_.begin(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
        if (lines_.size() > kMostWaiting) {
            const std::size_t excess = lines_.size() - kMostWaiting;
            lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(excess));
            dropped_ += excess;
        }
    }
    return saved;
}

std::size_t OperationRecord::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
}

std::size_t OperationRecord::TakeDropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(dropped_, 0);
}

std::string ReportBytes(const std::vector<std::string> &lines) {
    std::string bytes;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) bytes += "\r\n";
        bytes += tevrolink::Utf8ToGbk(lines[i]);
    }
    return bytes;
}

}  // namespace meradon
