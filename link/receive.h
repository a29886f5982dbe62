// The receive path: polling, link keeping, synchronisation and acknowledgements.
#pragma once

#include <cstdint>

namespace tevrolink {

constexpr int kKeeperPeriodMs = 250;
constexpr uint8_t kKeeperResends = 6;

int IsShellReadable(uint8_t *linkState, uint16_t *credit);
void KeepLink();
// 1 when the received frame is for the caller, 0 when the link layer consumed or dropped it.
int HandleLinkControl(const uint8_t *frame);
void DecodeStatus();
// True when (a - b) mod 256 < window.
constexpr bool SeqInWindow(uint8_t a, uint8_t b, uint8_t window) {
    return static_cast<uint8_t>(a - b) < window;
}
// Milliseconds until the link keeper next has something to do (a resend or a sync
// request); a large value when it is idle. Waits use it as their next deadline.
int KeeperDueInMs();
// Sleeps until the receive side may make progress or `timeoutMs` has passed.
void WaitForLink(int timeoutMs);
// True while a frame is on its way in: part of one has been read, or bytes wait to be.
bool FrameOnItsWay();

}  // namespace tevrolink
