// How a sending's mode and its stations' outcomes are spelt in the store: short English
// words that other tools can match on, and back.
#pragma once

#include <string>

#include "manager/core/sending_log.h"

namespace meradon {

const char *ModeCode(SendMode mode);
SendMode ModeFromCode(const std::string &code);

// "pending", "succeeded" or "failed".
const char *OutcomeCode(StationOutcome outcome);
// Why a station failed ("suspended", "link_lost", ...); null unless it failed.
const char *ReasonCode(StationOutcome outcome);
StationOutcome OutcomeFromCodes(const std::string &outcome, const std::string &reason);

}  // namespace meradon
