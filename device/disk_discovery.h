// Finding the calculator's update disk among the present disks.
#pragma once

#include "device/disk_io.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

constexpr int kMaxUpdateDisks = 16;
constexpr int kDiskPathUnits = 260; // a path of 259 units plus its terminator fits
constexpr int kNormalizedUnits = 32;
constexpr int kPatternUnits = 128;
constexpr int kDiscoveryAttempts = 6;
constexpr int kDiscoveryPauseMs = 500;

// The process-wide table of update disks. The worker thread scans and
// transfers through it and the GUI thread releases through it, so each scan,
// each file transfer and each release holds `lock` for its whole length.
struct DiskTable {
    char16_t paths[kMaxUpdateDisks][kDiskPathUnits] = {};
    diskio::BlockIoPtr handles[kMaxUpdateDisks]; // null: not open
    std::u16string openFailure[kMaxUpdateDisks]; // why an open failed
    std::int32_t count = 0;
    std::recursive_mutex lock;
};

extern DiskTable UpdateDiskTable;

// Writes in with bit 0x20 set on every unit, a resulting space as '_'. Returns
// the length, or -1 (and an empty out) when in does not fit outUnits - 1.
int normalizeUsbIdText(char16_t* out, const char16_t* in, int outUnits = kNormalizedUnits);

// "\\?\usbstor#disk&ven_<vendor>&prod_<product>" of the normalised texts;
// empty when a text is too long.
[[nodiscard]] std::u16string updateDiskPattern(const char16_t* vendor, const char16_t* product);

// Windows: the interface path contains the pattern (exact, case-sensitive).
[[nodiscard]] bool interfacePathMatches(const std::u16string& path, const char16_t* vendor,
                                        const char16_t* product);

// Linux: the by-id link name (the part after the last '/'), lower-cased, starts
// with "usb-" + normalised vendor + '_' + normalised product, and the product
// field ends there: '_' (a serial follows) or '-' (the instance follows).
[[nodiscard]] bool byIdNameMatches(const std::u16string& path, const char16_t* vendor,
                                   const char16_t* product);

// Keeps the whole-disk links of a by-id listing (drops "...-partN"), sorted.
[[nodiscard]] std::vector<std::string> wholeDiskByIdNames(std::vector<std::string> names);

// One scan: the paths of up to maxCount matching disks go into the first
// entries of table; returns how many. Does not touch table.count.
int findUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                    int maxCount);

// Up to six scans, 500 ms apart (after every empty one); the first non-zero
// count, or 0.
int waitForUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                       int maxCount);
