// A private network namespace for the tests that broadcast: only loopback exists in it, up,
// with a route that takes 255.255.255.255 to loopback from 127.0.0.1. Nothing sent there
// reaches the machine's real network.
#pragma once

#include <string>

namespace dialogtest {

// Moves the calling process into a new network namespace. Call first thing in main(),
// while the process has one thread. Returns why it failed, or an empty string.
std::string EnterPrivateNetwork();

// The reason EnterPrivateNetwork gave (empty: the process runs in its private network).
const std::string &PrivateNetworkFailure();

}  // namespace dialogtest
