#include "tests/integration/sim_harness.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link/checksum.h"
#include "link/receive.h"
#include "link/streams.h"
#include "link/shell.h"

namespace simtest {

std::string CarrierName(Carrier t) { return t == Carrier::kUdp ? "Udp" : "Pty"; }

std::unique_ptr<HostSim> OpenLink(Carrier carrier, uint32_t baud, uint32_t simBaud) {
    tevrolink::CloseShell();
    std::unique_ptr<HostSim> sim;
    if (carrier == Carrier::kUdp) {
        sim = HostSim::StartUdp("127.0.0.1", 0);
        const uint16_t local = FreeUdpPort();
        sim->SetUdpPeer("127.0.0.1", local);
        if (!tevrolink::OpenNETShell("127.0.0.1", "127.0.0.1", local, sim->Port())) return nullptr;
    } else {
        hostsim::PtyOptions options;
        options.baud = simBaud ? simBaud : baud;
        sim = HostSim::StartPty(options);
        if (!tevrolink::OpenCOMShell(sim->PtyPath().c_str(), baud)) return nullptr;
    }
    // A fresh start for the protocol state the UDP open leaves as it was.
    tevrolink::Shell &shell = tevrolink::TheShell();
    shell.txSeq = 255;
    shell.rxSeq = 255;
    shell.port.resendCount = 0;
    return sim;
}

bool PumpUntil(const std::function<bool()> &done, Millis timeout,
               const std::function<void(const FrameRecord &)> &onFrame) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (tevrolink::IsShellReadable(nullptr, nullptr)) {
            if (onFrame) {
                FrameRecord frame{};
                tevrolink::CopyShell(frame.data());
                onFrame(frame);
            }
            continue;  // more may be queued
        }
        // Short waits: `done` may depend on the sim, which the library cannot see.
        tevrolink::WaitForLink(static_cast<int>(std::min<long>(left.count(), 10)));
    }
    return true;
}

std::optional<FrameRecord> NextFrame(Millis timeout) {
    std::optional<FrameRecord> got;
    PumpUntil([&] { return got.has_value(); }, timeout,
              [&](const FrameRecord &f) {
                  if (!got) got = f;
              });
    return got;
}

std::vector<FrameRecord> CollectUntil(const std::function<bool()> &done, Millis timeout) {
    std::vector<FrameRecord> frames;
    PumpUntil(done, timeout, [&](const FrameRecord &f) { frames.push_back(f); });
    return frames;
}

bool Synchronise() {
    tevrolink::SetHostHandShake(1);
    return PumpUntil([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; }, kWait);
}

void WriteFile(uint8_t station, const Bytes &content,
               const std::function<void(std::size_t written)> &afterWrite) {
    auto writable = [](uint16_t &room) {
        return PumpUntil([&] { return tevrolink::IsShellWritable(nullptr, &room) == 1; }, kWait);
    };
    uint16_t room = 0;
    uint8_t info[8];
    const uint32_t size = static_cast<uint32_t>(content.size());
    const uint32_t crc = tevrolink::Crc32(content.data(), content.size());
    std::memcpy(info, &size, 4);
    std::memcpy(info + 4, &crc, 4);
    ASSERT_TRUE(writable(room));
    ASSERT_EQ(tevrolink::WriteStreamToShell(info, 8, station, 1, 0x02), 1);
    for (std::size_t sent = 0; sent < content.size();) {
        ASSERT_TRUE(writable(room)) << "stalled at " << sent;
        const std::size_t n = std::min<std::size_t>(room, content.size() - sent);
        const int flags = (sent == 0 ? 0x04 : 0) | (sent + n == content.size() ? 0x08 : 0);
        ASSERT_EQ(tevrolink::WriteStreamToShell(content.data() + sent, static_cast<uint32_t>(n), station, 1, flags), 1);
        sent += n;
        if (afterWrite) afterWrite(sent);
    }
    ASSERT_TRUE(PumpUntil([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; }, kWait));
}

bool Barrier(HostSim &sim) {
    constexpr uint8_t kIgnoredCode = 0x7F;
    const std::size_t from = sim.ReceivedCount();
    tevrolink::SendControlFrame(kIgnoredCode, 0);
    return sim.WaitForReceived(hostsim::WithCode(kIgnoredCode), kWait, from).has_value();
}

}  // namespace simtest
