// Shared set-up of the integration tests: a hostsim on UDP or on a pty with the library's
// shell opened towards it, and polling helpers that wait on the link, never on a clock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/frame.h"
#include "sim/host_sim.h"
#include "tests/support/free_udp_port.h"

namespace simtest {

using namespace std::chrono_literals;
using hostsim::Bytes;
using hostsim::HostSim;
using hostsim::Millis;
using FrameRecord = std::array<uint8_t, tevrolink::kFrameSize>;

// Generous bound for anything that should happen within a few keeper periods.
constexpr Millis kWait{3000};

enum class Carrier { kUdp, kPty };
std::string CarrierName(Carrier t);

using test_support::FreeUdpPort;

// Starts a hostsim and opens the shell towards it. UDP: the sim already knows the PC's
// address, so it can speak first. Pty: the line runs at `baud`, the sim answers at
// `simBaud` (0 = the same).
std::unique_ptr<HostSim> OpenLink(Carrier carrier, uint32_t baud = 115200,
                                  uint32_t simBaud = 0);

// Polls the library (waiting on its descriptor between polls) until `done` holds or
// `timeout` passes. Frames reported to the caller are handed to `onFrame`. Returns done().
bool PumpUntil(const std::function<bool()> &done, Millis timeout,
               const std::function<void(const FrameRecord &)> &onFrame = {});
// The next frame reported to the caller within `timeout`.
std::optional<FrameRecord> NextFrame(Millis timeout);
// Every frame reported to the caller until `done` holds.
std::vector<FrameRecord> CollectUntil(const std::function<bool()> &done, Millis timeout);

// Brings the link to state 1 through the sync exchange (hand-shake on).
bool Synchronise();

// Writes `content` to `station` as one file (info, head, middle and tail frames) the way a
// client of the library does: ask for room, write, poll. `afterWrite`, if given, learns
// how many content bytes are written after each frame. Fails the test when the link
// stalls for kWait.
void WriteFile(uint8_t station, const Bytes &content,
               const std::function<void(std::size_t written)> &afterWrite = {});

// Sends a frame the sim ignores and waits until the sim has it: everything the PC sent
// before it has then been recorded too (both links keep order).
bool Barrier(HostSim &sim);

}  // namespace simtest
