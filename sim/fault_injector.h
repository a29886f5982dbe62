// Seeded faults on the link: which frames are lost, damaged, doubled or held back. The
// decisions come from one generator per direction, drawn the same way for every frame, so
// that a seed gives the same pattern for the same frames however the rates are set and
// however the two directions interleave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>

#include "sim/wire.h"

namespace hostsim {

enum class FaultDirection : uint8_t {
    kToNode = 1,  // frames from the PC
    kToPc = 2,    // frames from the node
    kBoth = 3,
};

struct FaultPlan {
    uint32_t seed = 1;
    double dropRate = 0;       // fraction of frames lost (0 to 1)
    double corruptRate = 0;    // fraction of frames with one byte damaged
    double duplicateRate = 0;  // fraction of frames that arrive twice
    Millis delay{0};           // every frame arrives this late...
    bool reorder = false;      // ...or, with reorder, anywhere from 0 to `delay` late, so
                               // that frames overtake each other (UDP; a pty keeps order)
    FaultDirection direction = FaultDirection::kBoth;
};

struct ByteDamage {
    std::size_t offset = 0;
    uint8_t mask = 0;  // never 0: the byte always changes
};

struct FaultDecision {
    bool drop = false;
    std::optional<ByteDamage> damage;
    bool duplicate = false;
    Millis delay{0};
};

class FaultInjector {
public:
    FaultInjector() = default;  // no faults
    explicit FaultInjector(const FaultPlan &plan);

    // What happens to the next frame of `size` bytes going to the PC (`toPc`) or to the
    // node. A dropped frame is neither damaged, doubled nor delayed.
    FaultDecision Next(bool toPc, std::size_t size);
    const FaultPlan &Plan() const { return plan_; }

private:
    bool Applies(bool toPc) const;

    FaultPlan plan_;
    bool active_ = false;
    std::mt19937 toNode_, toPc_;
};

// Applies a decision's damage to a frame.
void Damage(Bytes &frame, const ByteDamage &damage);

}  // namespace hostsim
