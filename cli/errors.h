// How the command line ends: every error is one sentence on standard error and an exit
// status that scripts can rely on.
#pragma once

#include <stdexcept>

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the operation was tried and failed
constexpr int kExitUsage = 2;   // bad usage; nothing was sent

// Bad usage: an unknown option, a missing or out-of-range value. Thrown before anything
// is sent to the host node.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An operation that failed: a port that cannot be opened, a host node that does not
// answer or refuses.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace cli
