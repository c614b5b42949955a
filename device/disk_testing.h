// Test hooks of the device layer, and nothing else: the product never calls
// these, and none of them is looked at on the product's own paths.
#pragma once

#include "device/disk_io.h"

#include <functional>
#include <string>
#include <vector>

namespace diskio::testing {

#ifdef _WIN32
// runThreads as when WaitForMultipleObjects fails, as it may.
[[nodiscard]] std::vector<ThreadOutcome>
runThreadsWithFailingWait(const std::vector<std::function<int()>>& jobs);

// The device path of a SetupAPI detail record of `bytes` bytes in all.
[[nodiscard]] std::u16string devicePathOfDetail(const void* detail, unsigned long bytes);
#endif

} // namespace diskio::testing
