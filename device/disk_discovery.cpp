#include "device/disk_discovery.h"

#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/pacing.h"
#include "device/update_disk.h"

#include <algorithm>
#include <atomic>
#include <cstring>

DiskTable UpdateDiskTable;

const char16_t updateVendorId[] = u"Orvane";
const char16_t updateProductId[] = u"Vela update";

int normalizeUsbIdText(char16_t* out, const char16_t* in, int outUnits) {
    const std::size_t length = boundedLength(in, static_cast<std::size_t>(outUnits));
    if (length >= static_cast<std::size_t>(outUnits)) {
        out[0] = 0;
        return -1;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t unit = static_cast<char16_t>(in[i] | 0x20);
        out[i] = unit == 0x20 ? u'_' : unit;
    }
    out[length] = 0;
    return static_cast<int>(length);
}

namespace {

bool normalizePair(const char16_t* vendor, const char16_t* product, std::u16string& v,
                   std::u16string& p) {
    char16_t nv[kNormalizedUnits];
    char16_t np[kNormalizedUnits];
    if (normalizeUsbIdText(nv, vendor) < 0 || normalizeUsbIdText(np, product) < 0) {
        deviceLog("discovery: vendor or product text longer than 31 units, nothing matches");
        return false;
    }
    v = nv;
    p = np;
    return true;
}

std::u16string baseName(const std::u16string& path) {
    const auto slash = path.find_last_of(u'/');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool isPartitionName(const std::string& name) {
    const auto at = name.rfind("-part");
    if (at == std::string::npos || at + 5 == name.size())
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(at + 5), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::u16string updateDiskPattern(const char16_t* vendor, const char16_t* product) {
    std::u16string v, p;
    if (!normalizePair(vendor, product, v, p))
        return {};
    std::u16string pattern = u"\\\\?\\usbstor#disk&ven_" + v + u"&prod_" + p;
    if (pattern.size() >= static_cast<std::size_t>(kPatternUnits))
        return {};
    return pattern;
}

bool interfacePathMatches(const std::u16string& path, const char16_t* vendor,
                          const char16_t* product) {
    const std::u16string pattern = updateDiskPattern(vendor, product);
    return !pattern.empty() && path.find(pattern) != std::u16string::npos;
}

bool byIdNameMatches(const std::u16string& path, const char16_t* vendor, const char16_t* product) {
    std::u16string v, p;
    if (!normalizePair(vendor, product, v, p))
        return false;
    // udev keeps the device's own case; the comparison is made on lower case.
    std::u16string name = baseName(path);
    for (char16_t& c : name) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 0x20);
    }
    const std::u16string prefix = u"usb-" + v + u"_" + p;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    const char16_t next = name[prefix.size()];
    return next == u'_' || next == u'-';
}

std::vector<std::string> wholeDiskByIdNames(std::vector<std::string> names) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) {
                                   return n.empty() || n[0] == '.' || isPartitionName(n);
                               }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

int findUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                    int maxCount) {
    std::lock_guard<std::recursive_mutex> hold(table.lock);
    maxCount = std::clamp(maxCount, 0, kMaxUpdateDisks);
    diskio::DiskSource& source = diskio::activeDiskSource();
    std::vector<std::u16string> present;
    if (!source.listDisks(present)) {
        deviceLog("discovery: the list of disks could not be had");
        return 0;
    }
    const bool byId = source.matchRule() == diskio::MatchRule::LinuxById;
    int found = 0;
    for (const std::u16string& path : present) {
        if (found >= maxCount)
            break;
        const bool match = byId ? byIdNameMatches(path, vendor, product)
                                : interfacePathMatches(path, vendor, product);
        if (!match)
            continue;
        if (path.size() >= static_cast<std::size_t>(kDiskPathUnits)) {
            deviceLog("discovery: skipped an update disk whose path is too long: " +
                      toUtf8(path.substr(0, 80)) + "...");
            continue;
        }
        std::copy(path.begin(), path.end(), table.paths[found]);
        table.paths[found][path.size()] = 0;
        ++found;
    }
    return found;
}

int waitForUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                       int maxCount) {
    std::lock_guard<std::recursive_mutex> hold(table.lock);
    for (int attempt = 1; attempt <= kDiscoveryAttempts; ++attempt) {
        const int found = findUpdateDisks(table, vendor, product, maxCount);
        if (found > 0) {
            deviceLog("discovery: " + std::to_string(found) + " update disk(s) on attempt " +
                      std::to_string(attempt));
            for (int i = 0; i < found; ++i)
                deviceLog("discovery:   " + toUtf8(table.paths[i]));
            return found;
        }
        pacing::pauseMs(kDiscoveryPauseMs);
    }
    deviceLog("discovery: no update disk after six scans");
    return 0;
}

bool isUpdateDiskPresent(const char16_t* vendor, const char16_t* product) {
    // Polled every 500 ms: only a change is worth a log line.
    static std::atomic<int> lastFound{-1};
    std::lock_guard<std::recursive_mutex> hold(UpdateDiskTable.lock);
    const int found = findUpdateDisks(UpdateDiskTable, vendor, product, kMaxUpdateDisks);
    if (lastFound.exchange(found) != found)
        deviceLog("discovery: " + std::to_string(found) + " update disk(s) present");
    return found > 0;
}
