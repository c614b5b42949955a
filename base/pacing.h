// The fixed pauses of an update (500 ms polls, 1000 ms countdown steps,
// 3000 ms after a failure, 250 ms and 100 ms at fixed points) all pass through
// here. The product always waits in real time; a test may divide every pause
// so that a six-second countdown does not cost six seconds, or stretch it so
// that a pause outlasts anything the test waits for.
#pragma once

#include <atomic>

namespace pacing {

// Sleeps for ms milliseconds, scaled for tests (unchanged in the product).
void pauseMs(int ms);

// The same pause, but it ends early once stop is set: the loop that pauses
// has nothing left to wait for then, and whoever stopped it may be waiting
// for it. True when the whole pause passed.
bool pauseMs(int ms, const std::atomic<bool>& stop);

// The same scaling for timers that are armed rather than slept.
[[nodiscard]] int scaledMs(int ms);

// The injectable clock of the tests and benchmarks; the product never calls it.
namespace testing {
// Every later pause lasts ms / divisor. A divisor below 1 counts as 1.
void setDivisor(int divisor);
// Every later pause lasts ms * factor / divisor. Below 1 counts as 1.
void setStretch(int factor);
} // namespace testing

} // namespace pacing
