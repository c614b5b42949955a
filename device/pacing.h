// The fixed pauses of an update (500 ms polls, 1000 ms countdown steps,
// 3000 ms after a failure, 250 ms and 100 ms at fixed points) all pass through
// here. The product always waits in real time; a test may divide every pause
// so that a six-second countdown does not cost six seconds.
#pragma once

namespace pacing {

// Sleeps for ms milliseconds, divided by the test divisor (1 in the product).
void pauseMs(int ms);

// The same scaling for timers that are armed rather than slept.
[[nodiscard]] int scaledMs(int ms);

// Tests only: every later pause lasts ms / divisor. A divisor below 1 counts as 1.
void setTestDivisor(int divisor);

} // namespace pacing
