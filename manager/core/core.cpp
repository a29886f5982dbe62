#include "manager/core/core.h"

#include "manager/core/text_format.h"

namespace meradon {

Core::Core(MeradonView &view, Clock &clock, std::filesystem::path outputDir)
    : view(view), clock(clock), output(std::move(outputDir)) {
    sendings.OnChange([this](const SendingRecord &record) { history.Add(SendingFact{record}); });
}

void Core::Line(const std::string &text) {
    view.AddRecordLine(text, LineStyle::Stamped);
    const LocalTime t = clock.Local();
    history.Add(RecordLineFact{t, Format("[%02d:%02d:%02d] ", t.hour, t.minute, t.second) + text});
}

void Core::Indented(const std::string &text) {
    view.AddRecordLine(text, LineStyle::Indented);
    history.Add(RecordLineFact{clock.Local(), "      " + text});
}

void Core::OpenHistory(int retentionDays) {
    HistoryOptions options;
    options.retentionDays = retentionDays;
    options.nowSeconds = [this] { return EpochSeconds(clock.Local()); };
    options.report = [this](const std::string &line) { Line(line); };
    history.Open(output.Path(), std::move(options));
}

bool Core::MessageBox(const std::string &text) {
    return messageBox.AskAndWait([&] { view.RequestMessageBox(text); });
}

bool Core::SendCommand(int command) {
    return this->command.AskAndWait([&] { view.RequestCommand(command); });
}

}  // namespace meradon
