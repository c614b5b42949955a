// Test hooks of the device layer, and nothing else: the product never calls
// these. Each replaces one thing a test cannot otherwise reach.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace diskio::testing {

#ifdef _WIN32
// Wine presents no USB disk, so a test gives the list of disks itself. Each
// entry is an interface path, matched as usual, and the file that stands in
// for that disk; opening, reading and writing go through the real Win32 calls
// on that file.
using DiskListEntry = std::pair<std::u16string, std::u16string>; // interface path, file
void setWindowsDiskList(const std::vector<DiskListEntry>& disks);
void clearWindowsDiskList();

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
