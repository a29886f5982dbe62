// Waiting for the link without holding the library: a caller's own loop sleeps until the
// shell may have something for IsShellReadable, while other threads' calls go on.
#pragma once

#include <cstdint>

namespace tevrolink {

// Takes the export lock itself, only to look at the shell, never while it waits.
int WaitForShellReadable(uint32_t milliseconds);
void WakeShellWaiters();
// Wakes only a waiter that watches the link now: what changed is the link keeper's deadline,
// which a waiter without a link to watch does not wait for. Called with the export lock held.
void WakeLinkWatchers();
// Called with the export lock held, before the link is closed or replaced: wakes the waiters
// and returns once none still polls the link's descriptor. A poll holds the descriptor's file,
// so until then a closed socket would keep its port bound and a serial line its device.
void WaitUntilLinkUnwatched();

}  // namespace tevrolink
