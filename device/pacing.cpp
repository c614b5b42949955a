#include "device/pacing.h"

#include "device/platform.h"

#include <atomic>

namespace {
std::atomic<int> testDivisor{1};
}

namespace pacing {

int scaledMs(int ms) {
    const int divisor = testDivisor.load(std::memory_order_relaxed);
    return ms <= 0 ? 0 : ms / divisor;
}

void pauseMs(int ms) {
    platform::sleepMs(scaledMs(ms));
}

void setTestDivisor(int divisor) {
    testDivisor.store(divisor < 1 ? 1 : divisor, std::memory_order_relaxed);
}

} // namespace pacing
