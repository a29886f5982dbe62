#include "link/spare_replies.h"

#include <algorithm>

#include "link/frame.h"

namespace tevrolink {
namespace {

// Request codes of 0x80 and above never get a reply (the reply code would wrap).
constexpr uint8_t kCodeIndex = 0x7F;

}  // namespace

SpareReplies::Said SpareReplies::Said::Of(const uint8_t *reply) {
    return Said{reply[kLength], reply[kCrcHigh], reply[kCrcLow]};
}

int64_t SpareReplies::QuietFrom(uint8_t code) const {
    return codes_[code & kCodeIndex].answeredAt + kCopyWindowMs;
}

bool SpareReplies::TakeSpare(const uint8_t *reply, int64_t now) {
    if (reply[kCode] < 0x80) return false;
    Code &c = codes_[reply[kCode] & kCodeIndex];
    const Said said = Said::Of(reply);
    for (Owed &o : c.owed) {
        if (o.count == 0 || now >= o.until || !(o.anyReply || o.said == said)) continue;
        --o.count;
        if (c.takenCount < c.takenAsSpare.size()) c.takenAsSpare[c.takenCount++] = said;
        return true;
    }
    return false;
}

void SpareReplies::Ended(uint8_t code, const uint8_t *answer, int sends, int64_t lastSendAt,
                         int64_t now) {
    Code &c = codes_[code & kCodeIndex];
    // A request answered after a resend owes one reply per further send; but a reply like
    // its answer that it dropped as spare may have been its own first answer (then the
    // resend was for nothing), so that one is not owed again.
    int owed = sends;
    if (answer) {
        c.answeredAt = now;
        owed = static_cast<int>(sends - 1 - std::count(c.takenAsSpare.begin(),
                                                       c.takenAsSpare.begin() + c.takenCount,
                                                       Said::Of(answer)));
    }
    c.takenCount = 0;
    if (owed <= 0) return;
    // The entry that runs out first (or has) makes room.
    const auto runsOut = [now](const Owed &o) { return o.count && now < o.until ? o.until : kNever; };
    Owed &slot = *std::min_element(c.owed.begin(), c.owed.end(),
                                   [&](const Owed &a, const Owed &b) { return runsOut(a) < runsOut(b); });
    slot = Owed{lastSendAt + kLateReplyMs, owed, answer == nullptr, answer ? Said::Of(answer) : Said{}};
}

}  // namespace tevrolink
