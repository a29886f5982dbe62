#include "link/spare_replies.h"

#include <algorithm>

#include "link/frame.h"

namespace tevrolink {
namespace {

// Request codes of 0x80 and above never get a reply (the reply code would wrap).
constexpr uint8_t kCodeIndex = 0x7F;

}  // namespace

int64_t SpareReplies::QuietFrom(uint8_t code) const {
    return codes_[code & kCodeIndex].answeredAt + kCopyWindowMs;
}

bool SpareReplies::TakeSpare(const uint8_t *reply, int64_t now) {
    if (reply[kCode] < 0x80) return false;
    Code &c = codes_[reply[kCode] & kCodeIndex];
    for (Owed &o : c.owed) {
        if (o.count == 0 || now >= o.until) continue;
        if (!o.anyReply && (reply[kLength] != o.length || reply[kCrcHigh] != o.crcHigh ||
                            reply[kCrcLow] != o.crcLow))
            continue;
        --o.count;
        if (c.takenCount < c.takenAsSpare.size())
            c.takenAsSpare[c.takenCount++] = Owed{now, 1, false, reply[kLength], reply[kCrcHigh], reply[kCrcLow]};
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
        owed = sends - 1;
        for (std::size_t i = 0; i < c.takenCount; ++i) {
            const Owed &t = c.takenAsSpare[i];
            if (t.length == answer[kLength] && t.crcHigh == answer[kCrcHigh] && t.crcLow == answer[kCrcLow])
                --owed;
        }
    }
    c.takenCount = 0;
    if (answer) c.answeredAt = now;
    if (owed <= 0) return;
    // The entry that runs out first (or has) makes room.
    Owed &slot = *std::min_element(c.owed.begin(), c.owed.end(), [now](const Owed &a, const Owed &b) {
        return (a.count && now < a.until ? a.until : kNever) < (b.count && now < b.until ? b.until : kNever);
    });
    slot = Owed{lastSendAt + kLateReplyMs, owed, answer == nullptr};
    if (!answer) return;
    slot.length = answer[kLength];
    slot.crcHigh = answer[kCrcHigh];
    slot.crcLow = answer[kCrcLow];
}

}  // namespace tevrolink
