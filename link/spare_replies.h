// Replies that come after their request was done with. A reply carries no number that ties
// it to its request, so one that comes twice (the link doubled it, or the host node
// answered a doubled request) or late (the answer to a resend, after the answer to an
// earlier send was taken) would be taken for the answer to the next request of its code.
// They are told apart by when they come and what they say:
//  - copies of one answer travel close together, so a request goes out only once
//    kCopyWindowMs have passed since the last answer to its code;
//  - a request sent more than once may be answered once per send, each answer coming up to
//    kLateReplyMs after its send. For that long after the last send, as many replies of the
//    same code as are still owed, each saying what the taken answer said, are spare; after
//    a request that went unanswered, any reply of its code is.
// A fresh answer that says the same as a spare one is dropped in its place and costs a
// resend; a request that had to resend after dropping one like its own answer owes nothing
// for it, so the mistake is not carried on to the requests after it.
#pragma once

#include <array>
#include <cstdint>

#include "link/transaction.h"

namespace tevrolink {

constexpr int kCopyWindowMs = 20;
// Twice the resend period: an answer later than that would have met a second resend.
constexpr int kLateReplyMs = 2 * kReplyWaitMs;

class SpareReplies {
public:
    // The earliest moment a request of `code` may go out.
    int64_t QuietFrom(uint8_t code) const;
    // True when `reply` is a spare answer to an earlier request of its code; it is then
    // counted as come.
    bool TakeSpare(const uint8_t *reply, int64_t now);
    // Records how a request of `code` ended: `answer` is the reply taken, or null when none
    // came after `sends` sends, the last at `lastSendAt`.
    void Ended(uint8_t code, const uint8_t *answer, int sends, int64_t lastSendAt, int64_t now);

private:
    static constexpr int64_t kNever = INT64_MIN / 2;
    // What a reply said, as far as telling copies apart needs: its length and frame check.
    struct Said {
        uint8_t length = 0;
        uint8_t crcHigh = 0;
        uint8_t crcLow = 0;
        static Said Of(const uint8_t *reply);
        bool operator==(const Said &) const = default;
    };
    // Replies still owed to one earlier request: like its taken answer, or any reply of the
    // code where it went unanswered.
    struct Owed {
        int64_t until = kNever;
        int count = 0;
        bool anyReply = false;
        Said said;
    };
    static constexpr std::size_t kKept = 4;
    struct Code {
        int64_t answeredAt = kNever;
        std::array<Owed, kKept> owed{};
        // The replies taken as spare while the current request waits.
        std::array<Said, kKept> takenAsSpare{};
        std::size_t takenCount = 0;
    };
    std::array<Code, 0x80> codes_{};
};

}  // namespace tevrolink
