#include "manager/core/quality_log.h"

namespace meradon {

bool QualityLog::Append(const LocalTime &time, uint8_t station, const QualityValues &values) {
    const std::string name = QualityFileName(time);
    if (name != fileName_) {
        fileName_ = name;
        file_ = output_.Open(name, "a+b");
        if (!file_) return false;
        std::fseek(file_.get(), 0, SEEK_END);
        if (std::ftell(file_.get()) == 0) {
            std::fprintf(file_.get(), "%s\n", kQualityHeader);
        } else if (std::fseek(file_.get(), -1, SEEK_END) == 0) {
            // The last run ended in the middle of a line: that line stays as it is, cut,
            // and this run's first line starts on a line of its own.
            const bool cut = std::fgetc(file_.get()) != '\n';
            std::fseek(file_.get(), 0, SEEK_END);  // from reading back to appending
            if (cut) std::fputc('\n', file_.get());
        }
    }
    if (!file_) return true;  // this day's file could not be created; that was said once
    std::fprintf(file_.get(), "%s\n", QualityLine(time, station, values).c_str());
    std::fflush(file_.get());  // read while the manager runs on
    return true;
}

}  // namespace meradon
