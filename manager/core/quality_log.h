// The daily quality file in the output directory: one line per signal packet, so the
// night's link quality can be read the next morning. A file of the same day is appended
// to (a restarted manager continues it, on a new line when the last run was cut off in
// the middle of one); the header row starts each new file. Window thread only.
#pragma once

#include <string>

#include "manager/core/file_handle.h"
#include "manager/core/output_directory.h"
#include "manager/core/quality_values.h"

namespace meradon {

class QualityLog {
public:
    explicit QualityLog(const OutputDirectory &output) : output_(output) {}

    // Writes one line into the file of `time`'s day. False when that file cannot be
    // created; it is not tried again that day, so the failure is reported once.
    bool Append(const LocalTime &time, uint8_t station, const QualityValues &values);
    // Closes the file; the next line opens it again (a log rotation may have moved it).
    void Close() {
        file_.reset();
        fileName_.clear();
    }

private:
    const OutputDirectory &output_;
    FileHandle file_;
    std::string fileName_;
};

}  // namespace meradon
