// The operation record: the lines that the core and the operator's actions write, kept as
// a front end shows them ("[hh:mm:ss] " in front, or six spaces), and saved into the output
// directory as a report, "Report-<link> YY-MM-DD hh-mm-ss.txt": the lines in GBK joined by
// CR LF, nothing after the last. Every hour while AutoSave is checked the core asks its
// view to save, and the view saves here as "保存" does (Manager::SaveRecord). Any thread
// may add, clear and save.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "manager/core/clock.h"
#include "manager/core/output_directory.h"
#include "manager/core/view.h"

namespace meradon {

class OperationRecord {
public:
    // Keeps the line stamped at `now` or indented; returns it as kept.
    std::string Add(const std::string &text, LineStyle style, const LocalTime &now);
    void Clear();
    // Writes the lines into a report named after `selector`, the link's name, at `now`:
    // the report's path, or empty when the record is empty or the file cannot be written.
    std::filesystem::path Save(const OutputDirectory &output, const std::string &selector,
                               const LocalTime &now) const;
    // As Save, and the saved lines are forgotten, so that a record kept for months holds one
    // save's worth; lines that could not be saved wait for the next save, the newest
    // kMostWaiting of them (a disk that stays full must not fill the memory too).
    std::filesystem::path SaveAndForget(const OutputDirectory &output, const std::string &selector,
                                        const LocalTime &now);
    // The lines kept and not saved yet.
    std::size_t Size() const;
    // How many waiting lines SaveAndForget dropped since the last call.
    std::size_t TakeDropped();

    static constexpr std::size_t kMostWaiting = 200'000;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::size_t dropped_ = 0;
};

// `text` as the record shows it: "[hh:mm:ss] " in front, or six spaces.
std::string RecordLineAsShown(const std::string &text, LineStyle style, const LocalTime &now);

// The report file's contents: the lines in GBK joined by "\r\n", nothing after the last.
std::string ReportBytes(const std::vector<std::string> &lines);

}  // namespace meradon
