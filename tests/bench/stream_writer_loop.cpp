#include "tests/bench/stream_writer_loop.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "link/frame.h"
#include "link/receive.h"
#include "link/shell.h"
#include "sim/status_report.h"
#include "tests/support/free_udp_port.h"
#include "tevrolink/tevrolink.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using test_support::FreeUdpPort;

// Polls until `done` holds, waiting on the link between polls as the library's waits do.
template <typename Done>
bool Pump(Done done, int timeoutMs = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        if (IsShellReadable(nullptr, nullptr)) continue;
        tevrolink::WaitForLink(1);
    }
    return true;
}

}  // namespace

std::unique_ptr<hostsim::HostSim> OpenShellToHostSim(bool udp) {
    CloseShell();
    std::unique_ptr<hostsim::HostSim> sim;
    if (udp) {
        sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
        const uint16_t local = FreeUdpPort();
        sim->SetUdpPeer("127.0.0.1", local);
        if (!OpenNETShell("127.0.0.1", "127.0.0.1", local, sim->Port())) return nullptr;
    } else {
        hostsim::PtyOptions options;
        options.baud = kLineRate;
        options.pace = true;
        sim = hostsim::HostSim::StartPty(options);
        if (!OpenCOMShell(sim->PtyPath().c_str(), kLineRate)) return nullptr;
    }
    SetHostHandShake(0);
    return sim;
}

StreamRate RunStreamWriterLoop(hostsim::HostSim &sim, std::size_t size, uint8_t station) {
    sim.AddStations({station}, true);
    sim.SetDrainRate(100'000'000);
    uint8_t out = 0;
    SetPeerNodeID(station, &out);
    StartNetCenter(1);
    QueryHostRTxStatus(nullptr);
    std::vector<uint8_t> content(size);
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<uint8_t>(i * 131 + 7);

    StreamRate rate;
    uint16_t room = 0;
    const auto start = Clock::now();
    while (rate.bytes < size) {
        if (!Pump([&] { return IsShellWritable(nullptr, &room) == 1; })) break;
        const std::size_t n = std::min<std::size_t>(room, size - rate.bytes);
        if (WriteStreamToShell(content.data() + rate.bytes, static_cast<uint32_t>(n), station, 1, 0) != 1) break;
        rate.bytes += n;
        ++rate.frames;
    }
    Pump([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; });
    rate.bytesPerSecond = static_cast<double>(rate.bytes) / std::chrono::duration<double>(Clock::now() - start).count();
    return rate;
}

double StopAndWaitLimit() {
    constexpr std::size_t kChunk = 200;
    constexpr std::size_t lineBytes = kChunk + tevrolink::kFrameHeader + tevrolink::kFrameHeader + hostsim::kStatusPayloadSize;
    return static_cast<double>(kChunk) / (static_cast<double>(lineBytes) * 10.0 / kLineRate);
}

}  // namespace bench
