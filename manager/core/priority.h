// Scheduling priority of the manager's threads. The window thread and the worker that
// polls the link ask for more than ordinary programs get, so that a busy desktop delays
// neither; where the system does not permit it (no CAP_SYS_NICE, a nice limit), they run
// as they are and nothing fails.
#pragma once

namespace meradon {

constexpr int kWindowNice = -5;
constexpr int kWorkerNice = -10;

// Lowers the calling thread's nice value to `nice`, best effort; never raises it.
void RaiseThreadPriority(int nice);
// Has the calling thread's timed waits end when asked rather than up to 50 us later: the
// worker sleeps for the line time of a frame's missing bytes between its reads.
void WakeOnTime();

}  // namespace meradon
