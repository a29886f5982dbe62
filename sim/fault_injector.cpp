#include "sim/fault_injector.h"

namespace hostsim {
namespace {

// The second direction's generator starts elsewhere in the sequence, so that the two
// directions do not lose the same frames in step.
constexpr uint32_t kToPcSeedOffset = 0x9E3779B9u;

// A uniform fraction in [0, 1) straight from the engine's 32 bits: the same on every
// standard library, unlike the distributions.
double Fraction(std::mt19937 &g) { return static_cast<double>(g()) / 4294967296.0; }

}  // namespace

FaultInjector::FaultInjector(const FaultPlan &plan)
    : plan_(plan),
      active_(plan.dropRate > 0 || plan.corruptRate > 0 || plan.duplicateRate > 0 ||
              plan.delay.count() > 0),
      toNode_(plan.seed),
      toPc_(plan.seed + kToPcSeedOffset) {}

bool FaultInjector::Applies(bool toPc) const {
    const auto wanted = static_cast<uint8_t>(toPc ? FaultDirection::kToPc : FaultDirection::kToNode);
    return active_ && (static_cast<uint8_t>(plan_.direction) & wanted) != 0;
}

FaultDecision FaultInjector::Next(bool toPc, std::size_t size) {
    FaultDecision d;
    if (!Applies(toPc)) return d;
    std::mt19937 &g = toPc ? toPc_ : toNode_;
    // Every draw is made for every frame, whatever the outcome.
    const double drop = Fraction(g), corrupt = Fraction(g), duplicate = Fraction(g);
    const uint32_t offset = g(), mask = g(), late = g();
    if (drop < plan_.dropRate) {
        d.drop = true;
        return d;
    }
    if (corrupt < plan_.corruptRate && size > 0)
        d.damage = ByteDamage{offset % size, static_cast<uint8_t>(1 + mask % 255)};
    d.duplicate = duplicate < plan_.duplicateRate;
    const auto most = static_cast<uint32_t>(plan_.delay.count());
    d.delay = Millis(plan_.reorder ? late % (most + 1) : most);
    return d;
}

void Damage(Bytes &frame, const ByteDamage &damage) {
    if (damage.offset < frame.size()) frame[damage.offset] ^= damage.mask;
}

}  // namespace hostsim
