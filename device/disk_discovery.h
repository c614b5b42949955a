// Finding the calculator's update disk among the present disks; private to
// the device layer (calculators.h is its face).
#pragma once

#include "device/disk_io.h"
#include "device/disk_table.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int kNormalizedUnits = 32;
constexpr int kPatternUnits = 128;
constexpr int kDiscoveryAttempts = 6;
constexpr int kDiscoveryPauseMs = 500;

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
