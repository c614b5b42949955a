// Test hooks of the device layer, and nothing else: the product never calls
// these. Each replaces one thing a test cannot otherwise reach.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace diskio::testing {

// The next n chunk-buffer allocations of transfer threads fail, as they would
// when the process is out of memory.
void failChunkAllocations(int n);
// True (and counts one down) when a chunk allocation is to fail; asked by each
// transfer thread before it allocates.
[[nodiscard]] bool chunkAllocationShouldFail();

#ifdef _WIN32
// The next `count` waits for the transfer threads report failure, as
// WaitForMultipleObjects may.
void failThreadWaits(int count);

// The device path of a SetupAPI detail record of `bytes` bytes in all.
[[nodiscard]] std::u16string devicePathOfDetail(const void* detail, unsigned long bytes);
#else
// The folder of by-id links listed, and the folder that stands for
// /sys/dev/block, where each disk's identity is read. Empty texts return to
// the real ones. Every check still applies: links must lead to block devices.
void setLinuxDiskRoots(const std::string& byIdDir, const std::string& sysDevBlockDir);
#endif

} // namespace diskio::testing
