// Test hooks of the device layer, and nothing else: the product never calls
// these, and none of them is looked at on the product's own paths.
#pragma once

#include "device/disk_io.h"

#include <functional>
#include <string>
#include <vector>

namespace diskio::testing {

// Every later transfer starts its threads through runner, so that a test can
// have a thread not start or its exit code go unread; nullptr: runThreads.
using ThreadRunner = std::vector<ThreadOutcome> (*)(const std::vector<std::function<int()>>& jobs);
void setThreadRunner(ThreadRunner runner);

#ifdef _WIN32
// runThreads as when WaitForMultipleObjects fails, as it may.
[[nodiscard]] std::vector<ThreadOutcome>
runThreadsWithFailingWait(const std::vector<std::function<int()>>& jobs);

// The device path of a SetupAPI detail record of `bytes` bytes in all.
[[nodiscard]] std::u16string devicePathOfDetail(const void* detail, unsigned long bytes);
#endif

} // namespace diskio::testing
