// hostsim's seeded faults themselves: the pattern a seed gives, the rates it comes to, and
// the record of what each frame suffered on the wire.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <set>

#include "link/shell.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;
using hostsim::Fate;
using hostsim::FaultDecision;
using hostsim::FaultDirection;
using hostsim::FaultInjector;
using hostsim::FaultPlan;

namespace {

constexpr std::size_t kFrames = 4000;

std::vector<FaultDecision> Decisions(FaultInjector &injector, bool toPc, std::size_t count) {
    std::vector<FaultDecision> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(injector.Next(toPc, 8 + i % 240));
    return out;
}

bool Same(const FaultDecision &a, const FaultDecision &b) {
    return a.drop == b.drop && a.duplicate == b.duplicate && a.delay == b.delay &&
           a.damage.has_value() == b.damage.has_value() &&
           (!a.damage || (a.damage->offset == b.damage->offset && a.damage->mask == b.damage->mask));
}

TEST(FaultInjector, ASeedGivesOnePatternInEachDirection) {
    const FaultPlan plan{.seed = 7, .dropRate = 0.05, .corruptRate = 0.05, .duplicateRate = 0.05,
                         .delay = Millis(30), .reorder = true};
    FaultInjector first(plan), again(plan), other({.seed = 8, .dropRate = 0.05, .corruptRate = 0.05,
                                                  .duplicateRate = 0.05, .delay = Millis(30), .reorder = true});
    // The second run interleaves the directions differently: each keeps its own pattern.
    const auto toNode = Decisions(first, false, kFrames);
    const auto toPc = Decisions(first, true, kFrames);
    std::vector<FaultDecision> toNodeAgain, toPcAgain;
    for (std::size_t i = 0; i < kFrames; ++i) {
        toPcAgain.push_back(again.Next(true, 8 + i % 240));
        toNodeAgain.push_back(again.Next(false, 8 + i % 240));
    }
    std::size_t differentFromOtherSeed = 0, sameAcrossDirections = 0;
    const auto toNodeOther = Decisions(other, false, kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(Same(toNode[i], toNodeAgain[i])) << "frame " << i;
        ASSERT_TRUE(Same(toPc[i], toPcAgain[i])) << "frame " << i;
        differentFromOtherSeed += !Same(toNode[i], toNodeOther[i]);
        sameAcrossDirections += toNode[i].drop && toPc[i].drop;
    }
    EXPECT_GT(differentFromOtherSeed, kFrames / 2);
    EXPECT_LT(sameAcrossDirections, 40u) << "the directions lose frames independently";
}

TEST(FaultInjector, RatesComeOutNearTheAskedFraction) {
    for (double rate : {0.01, 0.05, 0.20}) {
        FaultInjector injector({.seed = 99, .dropRate = rate, .corruptRate = rate, .duplicateRate = rate});
        std::size_t dropped = 0, damaged = 0, doubled = 0;
        for (const FaultDecision &d : Decisions(injector, true, kFrames)) {
            dropped += d.drop;
            damaged += d.damage.has_value();
            doubled += d.duplicate;
        }
        // Four standard deviations of a binomial count; the others are of the frames kept.
        const auto near = [&](std::size_t count, std::size_t of) {
            const double expected = rate * static_cast<double>(of);
            return std::abs(static_cast<double>(count) - expected) <= 4 * std::sqrt(expected * (1 - rate));
        };
        EXPECT_TRUE(near(dropped, kFrames)) << rate << ": dropped " << dropped;
        EXPECT_TRUE(near(damaged, kFrames - dropped)) << rate << ": damaged " << damaged;
        EXPECT_TRUE(near(doubled, kFrames - dropped)) << rate << ": doubled " << doubled;
    }
}

TEST(FaultInjector, FaultsStayWithinThePlan) {
    FaultInjector toNodeOnly({.seed = 3, .dropRate = 0.5, .direction = FaultDirection::kToNode});
    for (const FaultDecision &d : Decisions(toNodeOnly, true, 200)) ASSERT_FALSE(d.drop);

    FaultInjector damaging({.seed = 3, .corruptRate = 1});
    for (std::size_t size : {1u, 8u, 74u, 263u})
        for (int i = 0; i < 200; ++i) {
            const FaultDecision d = damaging.Next(false, size);
            ASSERT_TRUE(d.damage);
            ASSERT_LT(d.damage->offset, size);
            ASSERT_NE(d.damage->mask, 0);
        }

    FaultInjector steady({.seed = 3, .delay = Millis(40)});
    for (const FaultDecision &d : Decisions(steady, true, 200)) ASSERT_EQ(d.delay, Millis(40));
    FaultInjector shuffling({.seed = 3, .delay = Millis(40), .reorder = true});
    std::set<long> delays;
    for (const FaultDecision &d : Decisions(shuffling, true, 2000)) {
        ASSERT_LE(d.delay, Millis(40));
        delays.insert(static_cast<long>(d.delay.count()));
    }
    EXPECT_EQ(delays.size(), 41u) << "every delay from 0 to 40 ms occurs";
}

// A PC of raw datagrams: it sends status queries to the sim and counts what comes back.
class RawPc {
public:
    explicit RawPc(uint16_t simPort) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sim_.sin_family = AF_INET;
        sim_.sin_port = htons(simPort);
        sim_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~RawPc() { close(fd_); }
    void Send(const Bytes &frame) const {
        sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr *>(&sim_), sizeof sim_);
    }
    // Every datagram waiting now, or arriving within `ms` of the last one.
    std::vector<Bytes> Drain(int ms) const {
        std::vector<Bytes> got;
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, ms) == 1) {
            uint8_t buffer[300];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) got.emplace_back(buffer, buffer + n);
        }
        return got;
    }

private:
    int fd_ = -1;
    sockaddr_in sim_{};
};

struct FaultRun {
    std::vector<Fate> heard, said;
    std::size_t datagramsBack = 0, damagedBack = 0;
};

// Sends `count` status queries in batches small enough for the socket buffers, waiting
// for the sim to have taken in each batch.
FaultRun QueriesThrough(const FaultPlan &plan, std::size_t count) {
    FaultRun run;
    auto sim = HostSim::StartUdp();
    sim->SetFaults(plan);
    RawPc pc(sim->Port());
    const Bytes query = hostsim::BuildFrame(0x1C, 0, 0, 0);
    const auto original = [](const hostsim::RecordedFrame &f) { return f.fate != Fate::kDuplicated; };
    for (std::size_t sent = 0; sent < count;) {
        for (int i = 0; i < 50 && sent < count; ++i, ++sent) pc.Send(query);
        EXPECT_EQ(sim->WaitForReceivedCount(original, sent, kWait).size(), sent);
        for (const Bytes &b : pc.Drain(0)) {
            ++run.datagramsBack;
            run.damagedBack += !tevrolink::CheckLinkFrame(b.data());
        }
    }
    // Replies held back by no delay are already out; collect the last ones.
    for (const Bytes &b : pc.Drain(200)) {
        ++run.datagramsBack;
        run.damagedBack += !tevrolink::CheckLinkFrame(b.data());
    }
    for (const auto &f : sim->Received()) run.heard.push_back(f.fate);
    for (const auto &f : sim->Sent()) run.said.push_back(f.fate);
    return run;
}

std::size_t Count(const std::vector<Fate> &fates, Fate fate) {
    return static_cast<std::size_t>(std::count(fates.begin(), fates.end(), fate));
}

TEST(HostSimFaults, TheRecordTellsWhatEachFrameSufferedAndASeedRepeatsIt) {
    const FaultPlan plan{.seed = 2024, .dropRate = 0.05, .corruptRate = 0.05, .duplicateRate = 0.05};
    const FaultRun run = QueriesThrough(plan, 2000);

    // From the PC: every query is in the record once, its copy again.
    const std::size_t originals = run.heard.size() - Count(run.heard, Fate::kDuplicated);
    EXPECT_EQ(originals, 2000u);
    const std::size_t acted = Count(run.heard, Fate::kPassed) + Count(run.heard, Fate::kDuplicated);
    EXPECT_NEAR(static_cast<double>(Count(run.heard, Fate::kDropped)), 100, 40);
    EXPECT_NEAR(static_cast<double>(Count(run.heard, Fate::kCorrupted)), 95, 40);
    // Each query acted on was answered once; the answers met faults of their own.
    const std::size_t answers = run.said.size() - Count(run.said, Fate::kDuplicated);
    EXPECT_EQ(answers, acted);
    const std::size_t onTheWire = run.said.size() - Count(run.said, Fate::kDropped);
    EXPECT_EQ(run.datagramsBack, onTheWire) << "what the record says went out, came";
    EXPECT_GE(run.damagedBack, Count(run.said, Fate::kCorrupted)) << "a damaged frame fails its check";

    const FaultRun again = QueriesThrough(plan, 2000);
    EXPECT_EQ(again.heard, run.heard);
    EXPECT_EQ(again.said, run.said);
}

TEST(HostSimFaults, DelayedDatagramsOvertakeEachOtherOnlyWhenReordered) {
    for (bool reorder : {false, true}) {
        auto sim = HostSim::StartUdp();
        sim->SetFaults({.seed = 5, .delay = Millis(30), .reorder = reorder,
                        .direction = FaultDirection::kToNode});
        RawPc pc(sim->Port());
        for (uint8_t n = 0; n < 60; ++n) pc.Send(hostsim::BuildFrame(0x7F, n, 0, 0));
        const auto heard = sim->WaitForReceivedCount(hostsim::WithCode(0x7F), 60, kWait);
        ASSERT_EQ(heard.size(), 60u);
        std::size_t overtaken = 0;
        for (std::size_t i = 1; i < heard.size(); ++i) {
            overtaken += heard[i].Seq() < heard[i - 1].Seq();
            EXPECT_LE(heard[i].heldFor, Millis(30));
            if (!reorder) {
                EXPECT_EQ(heard[i].heldFor, Millis(30));
            }
        }
        if (reorder) {
            EXPECT_GT(overtaken, 5u);
        } else {
            EXPECT_EQ(overtaken, 0u);
        }
    }
}

TEST(HostSimFaults, ARestartedNodeForgetsItsNumbersAndAsksForASync) {
    auto sim = OpenLink(Carrier::kUdp);
    ASSERT_TRUE(sim);
    ASSERT_TRUE(Synchronise());
    sim->AddStations({5}, true);
    sim->SetDrainRate(0);  // keep what arrives in the buffer
    const Bytes data(100, 0x5A);
    ASSERT_EQ(WriteStreamToShell(data.data(), 100, 5, 1, 0), 1);
    ASSERT_TRUE(PumpUntil([] { return tevrolink::TheShell().linkState == tevrolink::kLinkReady; }, kWait));
    sim->SendDataPacket(5, 0x10, Bytes{1, 2, 3});
    ASSERT_TRUE(sim->WaitUntil([](const hostsim::HostNode &n) { return n.Link().TxSeq() == 1; }, kWait));
    ASSERT_EQ(sim->With([](hostsim::HostNode &n) { return n.Model().txBuffer.Fill(); }), 100);

    const std::size_t from = sim->SentCount();
    sim->Restart();
    const auto sync = sim->WaitForSent(hostsim::WithCode(0x27), kWait, from);
    ASSERT_TRUE(sync);
    EXPECT_EQ(sync->Seq(), 0) << "numbering starts again";
    sim->With([](hostsim::HostNode &n) {
        EXPECT_EQ(n.Model().txBuffer.Fill(), 0);
        EXPECT_FALSE(n.Model().connected);
        EXPECT_EQ(n.Link().DataQueued(), 0u);
    });
    // The PC answers the sync and the node is in step again, numbered from the PC's side.
    ASSERT_TRUE(PumpUntil([&] { return sim->With([](hostsim::HostNode &n) { return n.Link().Synced(); }); },
                          kWait));
    EXPECT_EQ(sim->With([](hostsim::HostNode &n) { return n.Link().LastAccepted(); }),
              std::optional<uint8_t>(tevrolink::TheShell().txSeq));
    tevrolink::CloseShell();
}

}  // namespace
