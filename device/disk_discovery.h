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
// transfers through it and a release at the end of a run goes through it too,
// so the public entry points (the presence poll, a file transfer, a release)
// take `lock` once, for their whole length; the functions below that fill,
// open or close the table expect the caller to hold it.
struct DiskTable {
    char16_t paths[kMaxUpdateDisks][kDiskPathUnits] = {};
    diskio::BlockIoPtr handles[kMaxUpdateDisks]; // null: not open
    std::u16string openFailure[kMaxUpdateDisks]; // why an open failed
    // Who each entry was when the scan found it; an open is refused when the
    // disk it reaches is no longer that one.
    diskio::DiskCheck checked[kMaxUpdateDisks];
    std::int32_t count = 0;
    std::mutex lock;
};

extern DiskTable UpdateDiskTable;

// Writes in with bit 0x20 set on every unit, a resulting space as '_'. Returns
// the length, or -1 (and an empty out) when in does not fit outUnits - 1.
int normalizeUsbIdText(char16_t* out, const char16_t* in, int outUnits = kNormalizedUnits);

// "\\?\usbstor#disk&ven_<vendor>&prod_<product>" of the normalised texts;
// empty when a text is too long.
[[nodiscard]] std::u16string updateDiskPattern(const char16_t* vendor, const char16_t* product);

// Windows: the interface path contains the pattern (exact, case-sensitive),
// and the product field ends where the pattern ends: '&' (the revision
// follows), '#' or the end of the path. "prod_vela_update_2" is another product.
[[nodiscard]] bool interfacePathMatches(const std::u16string& path, const char16_t* vendor,
                                        const char16_t* product);

// Who a disk is by its Windows interface path alone: the normalised vendor
// and product, and the serial the path carries, or for a device without one
// the instance Windows made up from its port.
[[nodiscard]] DiskIdentity identityFromPath(const std::u16string& path, const char16_t* vendor,
                                            const char16_t* product);

// A disk of one scan whose name matched and whose identity was checked.
struct FoundDisk {
    std::u16string path;
    diskio::DiskCheck check;
};

// One scan: every update disk present now, in listing order, without an upper
// bound, so that a caller can refuse too many. A disk whose name matches but
// whose identity does not is left out (and logged once).
[[nodiscard]] std::vector<FoundDisk> scanUpdateDisks(const char16_t* vendor,
                                                     const char16_t* product);

// One scan: how many update disks are connected now (may exceed 16).
[[nodiscard]] int countUpdateDisks(const char16_t* vendor, const char16_t* product);

// One scan: the paths of up to maxCount update disks go into the first
// entries of table; returns how many. Does not touch table.count. The caller
// holds table.lock when the table is shared.
int findUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                    int maxCount);

// Up to six scans, 500 ms apart (after every empty one); the first non-zero
// count, or 0. The caller holds table.lock when the table is shared.
int waitForUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                       int maxCount);
