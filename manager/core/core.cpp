#include "manager/core/core.h"

#include "manager/core/operation_record.h"

namespace meradon {

namespace {

// The box's lines on one record line: "接收节点未指定      \r\n请检查后重新传输" is
// recorded as "接收节点未指定,请检查后重新传输".
std::string RecordLineOfBox(const std::string &text) {
    std::string line;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        part.erase(part.find_last_not_of(' ') + 1);
        if (!part.empty()) line += (line.empty() ? "" : ",") + part;
        if (end == std::string::npos) return line;
        start = end + 2;
    }
}

}  // namespace

Core::Core(MeradonView &view, Clock &clock, std::filesystem::path outputDir)
    : view(view), clock(clock), output(std::move(outputDir)) {
    sendings.OnChange([this](const SendingRecord &record) { history.Add(SendingFact{record}); });
}

void Core::Line(const std::string &text) {
    view.AddRecordLine(text, LineStyle::Stamped);
    const LocalTime t = clock.Local();
    history.Add(RecordLineFact{t, RecordLineAsShown(text, LineStyle::Stamped, t)});
}

void Core::Indented(const std::string &text) {
    view.AddRecordLine(text, LineStyle::Indented);
    const LocalTime t = clock.Local();
    history.Add(RecordLineFact{t, RecordLineAsShown(text, LineStyle::Indented, t)});
}

void Core::OpenHistory(int retentionDays) {
    HistoryOptions options;
    options.retentionDays = retentionDays;
    options.nowSeconds = [this] { return EpochSeconds(clock.Local()); };
    options.report = [this](const std::string &line) { Line(line); };
    history.Open(output.Path(), std::move(options));
}

void Core::MessageBox(const std::string &text) {
    Line(RecordLineOfBox(text));
    if (boxes.Open(text)) view.RequestMessageBox(text);
}

bool Core::SendCommand(int command) {
    return this->command.AskAndWait([&] { view.RequestCommand(command); });
}

}  // namespace meradon
