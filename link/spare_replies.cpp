#include "link/spare_replies.h"

#include "link/frame.h"

namespace tevrolink {
namespace {

// Request codes of 0x80 and above never get a reply (the reply code would wrap).
constexpr uint8_t kCodeIndex = 0x7F;

}  // namespace

int64_t SpareReplies::QuietFrom(uint8_t code) const {
    return codes_[code & kCodeIndex].answeredAt + kCopyWindowMs;
}

bool SpareReplies::IsSpare(const uint8_t *reply, int64_t now) const {
    if (reply[kCode] < 0x80) return false;
    const Code &c = codes_[reply[kCode] & kCodeIndex];
    if (now >= c.spareUntil) return false;
    return c.unanswered || (reply[kLength] == c.length && reply[kCrcHigh] == c.crcHigh &&
                            reply[kCrcLow] == c.crcLow);
}

void SpareReplies::Ended(uint8_t code, const uint8_t *answer, int sends, int64_t lastSendAt,
                         int64_t now) {
    Code &c = codes_[code & kCodeIndex];
    if (answer) c.answeredAt = now;
    // One send answered leaves nothing owed; an earlier request's window runs on.
    if (answer && sends == 1) return;
    c.spareUntil = lastSendAt + kLateReplyMs;
    c.unanswered = answer == nullptr;
    if (!answer) return;
    c.length = answer[kLength];
    c.crcHigh = answer[kCrcHigh];
    c.crcLow = answer[kCrcLow];
}

}  // namespace tevrolink
