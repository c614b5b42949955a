// The table of update disks an operation goes through: their paths, open
// handles and count. The dialog's run goes through the one process-wide
// UpdateDiskTable; a caller that runs sessions of its own gives each a table
// of its own (newDiskTable), so that they never wait for one another. An
// operation holds the table's lock for its whole length. Private to the
// device layer.
#pragma once

#include "device/disk_io.h"

#include <cstdint>
#include <mutex>
#include <string>

constexpr int kMaxUpdateDisks = 16;
constexpr int kDiskPathUnits = 260; // a path of 259 units plus its terminator fits

struct DiskTable {
    char16_t paths[kMaxUpdateDisks][kDiskPathUnits] = {};
    diskio::BlockIoPtr handles[kMaxUpdateDisks];     // null: not open
    diskio::OpenResult openFailure[kMaxUpdateDisks]; // why an open failed (no handle kept)
    // Who each entry was when the scan found it; an open is refused when the
    // disk it reaches is no longer that one.
    diskio::DiskCheck checked[kMaxUpdateDisks];
    std::int32_t count = 0;
    std::mutex lock;
};

extern DiskTable UpdateDiskTable;
