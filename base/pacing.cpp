#include "base/pacing.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <thread>

namespace {
std::atomic<int> testDivisor{1};
std::atomic<int> testStretch{1};

// How soon a stoppable pause notices the stop.
constexpr int kStopCheckMs = 10;
} // namespace

namespace pacing {

int scaledMs(int ms) {
    const std::int64_t divisor = testDivisor.load(std::memory_order_relaxed);
    const std::int64_t factor = testStretch.load(std::memory_order_relaxed);
    return ms <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>(ms * factor / divisor, INT_MAX));
}

void pauseMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(scaledMs(ms)));
}

bool pauseMs(int ms, const std::atomic<bool>& stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(scaledMs(ms));
    for (;;) {
        if (stop.load())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return true;
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<std::int64_t>(left, kStopCheckMs)));
    }
}

void testing::setDivisor(int divisor) {
    testDivisor.store(divisor < 1 ? 1 : divisor, std::memory_order_relaxed);
}

void testing::setStretch(int factor) {
    testStretch.store(factor < 1 ? 1 : factor, std::memory_order_relaxed);
}

} // namespace pacing
