// Tests only: Wine presents no USB disk, so a test gives the list of disks
// itself. Each entry is an interface path, matched as usual, and the file that
// stands in for that disk; opening, reading and writing go through the real
// Win32 calls on that file.
#pragma once

#include <string>
#include <utility>
#include <vector>

using DiskListEntry = std::pair<std::u16string, std::u16string>; // interface path, file
void setWindowsDiskListForTest(const std::vector<DiskListEntry>& disks);
void clearWindowsDiskListForTest();
