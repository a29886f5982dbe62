// Waiting for the link without holding the library: a caller's own loop sleeps until the
// shell may have something for IsShellReadable, while other threads' calls go on.
#pragma once

#include <cstdint>

namespace tevrolink {

// Takes the export lock itself, only to look at the shell, never while it waits.
int WaitForShellReadable(uint32_t milliseconds);
void WakeShellWaiters();

}  // namespace tevrolink
