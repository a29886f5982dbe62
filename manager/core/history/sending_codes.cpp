#include "manager/core/history/sending_codes.h"

#include <utility>

namespace meradon {

namespace {

constexpr std::pair<SendMode, const char *> kModes[] = {
    {SendMode::OneStation, "one_station"},
    {SendMode::Broadcast, "broadcast"},
    {SendMode::LoopPass, "loop_pass"},
};

constexpr std::pair<StationOutcome, const char *> kReasons[] = {
    {StationOutcome::Suspended, "suspended"},
    {StationOutcome::ReceiverFault, "receiver_fault"},
    {StationOutcome::NoReceiver, "no_receiver"},
    {StationOutcome::LinkLost, "link_lost"},
    {StationOutcome::Cancelled, "cancelled"},
    {StationOutcome::NotActivated, "not_activated"},
    {StationOutcome::FileUnreadable, "file_unreadable"},
};

}  // namespace

const char *ModeCode(SendMode mode) {
    for (const auto &[m, code] : kModes)
        if (m == mode) return code;
    return "";
}

SendMode ModeFromCode(const std::string &code) {
    for (const auto &[m, text] : kModes)
        if (code == text) return m;
    return SendMode::OneStation;
}

const char *OutcomeCode(StationOutcome outcome) {
    if (outcome == StationOutcome::Pending) return "pending";
    return outcome == StationOutcome::Succeeded ? "succeeded" : "failed";
}

const char *ReasonCode(StationOutcome outcome) {
    for (const auto &[o, code] : kReasons)
        if (o == outcome) return code;
    return nullptr;
}

StationOutcome OutcomeFromCodes(const std::string &outcome, const std::string &reason) {
    if (outcome == "pending") return StationOutcome::Pending;
    if (outcome == "succeeded") return StationOutcome::Succeeded;
    for (const auto &[o, code] : kReasons)
        if (reason == code) return o;
    return StationOutcome::LinkLost;  // a failure of a kind this program does not know
}

}  // namespace meradon
