// A private network namespace for tests that broadcast: only loopback exists in it, up,
// with a route that takes 255.255.255.255 to loopback from 127.0.0.1. Nothing sent there
// reaches the machine's real network.
#pragma once

#include <string>

namespace testsupport {

// Moves the calling process into a new network namespace, once: later calls return what
// the first one found. Call it before the process starts threads (in main(), or in a test's
// set-up); without root it needs a user namespace, which a process with threads cannot
// enter. Threads started afterwards, and child processes, share the namespace.
// Returns why the namespace could not be made, or an empty string when the process runs
// in it; a test that needs it skips with that reason.
const std::string &EnterPrivateNetwork();

}  // namespace testsupport
