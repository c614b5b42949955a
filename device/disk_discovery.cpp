#include "device/disk_discovery.h"

#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/pacing.h"
#include "device/update_disk.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

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

namespace {

// Where the product field of the first occurrence of pattern that ends with
// it begins its tail; npos when none does.
std::size_t patternEnd(const std::u16string& path, const std::u16string& pattern) {
    if (pattern.empty())
        return std::u16string::npos;
    for (std::size_t at = path.find(pattern); at != std::u16string::npos;
         at = path.find(pattern, at + 1)) {
        const std::size_t end = at + pattern.size();
        if (end == path.size() || path[end] == u'&' || path[end] == u'#')
            return end;
    }
    return std::u16string::npos;
}

// The length of "usb-<vendor>_<product>" when the lower-cased name starts
// with it and the product field ends there; 0 otherwise.
std::size_t byIdPrefixLength(const std::u16string& name, const char16_t* vendor,
                             const char16_t* product) {
    std::u16string v, p;
    if (!normalizePair(vendor, product, v, p))
        return 0;
    // udev keeps the device's own case; the comparison is made on lower case.
    std::u16string lower = name;
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 0x20);
    }
    const std::u16string prefix = u"usb-" + v + u"_" + p;
    if (lower.size() <= prefix.size() || lower.compare(0, prefix.size(), prefix) != 0)
        return 0;
    const char16_t next = lower[prefix.size()];
    return next == u'_' || next == u'-' ? prefix.size() : 0;
}

} // namespace

bool interfacePathMatches(const std::u16string& path, const char16_t* vendor,
                          const char16_t* product) {
    return patternEnd(path, updateDiskPattern(vendor, product)) != std::u16string::npos;
}

bool byIdNameMatches(const std::u16string& path, const char16_t* vendor, const char16_t* product) {
    return byIdPrefixLength(baseName(path), vendor, product) != 0;
}

DiskIdentity identityFromPath(const std::u16string& path, diskio::MatchRule rule,
                              const char16_t* vendor, const char16_t* product) {
    DiskIdentity identity;
    std::u16string v, p;
    if (!normalizePair(vendor, product, v, p))
        return identity;
    if (rule == diskio::MatchRule::LinuxById) {
        identity.vendor = vendor;
        identity.model = product;
        // usb-<vendor>_<product>[_<serial>]-<instance>
        const std::u16string name = baseName(path);
        const std::size_t prefix = byIdPrefixLength(name, vendor, product);
        if (prefix == 0 || name[prefix] != u'_')
            return identity;
        const std::size_t dash = name.rfind(u'-');
        const std::size_t end = dash == std::u16string::npos || dash <= prefix ? name.size() : dash;
        identity.serial = name.substr(prefix + 1, end - prefix - 1);
        return identity;
    }
    identity.vendor = v;
    identity.model = p;
    // ...&prod_<product>&rev_<revision>#<serial>&<lun>#{class}
    const std::size_t end = patternEnd(path, updateDiskPattern(vendor, product));
    if (end == std::u16string::npos)
        return identity;
    const std::size_t first = path.find(u'#', end);
    if (first == std::u16string::npos)
        return identity;
    const std::size_t second = path.find(u'#', first + 1);
    identity.serial = path.substr(first + 1, second == std::u16string::npos ? std::u16string::npos
                                                                            : second - first - 1);
    return identity;
}

namespace diskio {
DiskCheck DiskSource::checkDisk(const std::u16string& path, const char16_t* vendor,
                                const char16_t* product) {
    DiskCheck check;
    check.isUpdateDisk = true;
    check.identity = identityFromPath(path, matchRule(), vendor, product);
    return check;
}
} // namespace diskio

std::vector<std::string> wholeDiskByIdNames(std::vector<std::string> names) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) {
                                   return n.empty() || n[0] == '.' || isPartitionName(n);
                               }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Polled every 500 ms: a lookalike disk is logged when it is first seen, or
// when the reason it is left out changes, not at every scan.
void logLeftOut(const std::u16string& path, const std::string& why) {
    static std::mutex lock;
    static std::map<std::u16string, std::string> logged;
    std::lock_guard<std::mutex> hold(lock);
    std::string& last = logged[path];
    if (last == why)
        return;
    last = why;
    deviceLog("discovery: left out " + toUtf8(path) + ": " + why);
}

} // namespace

std::vector<FoundDisk> scanUpdateDisks(const char16_t* vendor, const char16_t* product) {
    diskio::DiskSource& source = diskio::activeDiskSource();
    std::vector<std::u16string> present;
    std::vector<FoundDisk> found;
    if (!source.listDisks(present)) {
        deviceLog("discovery: the list of disks could not be had");
        return found;
    }
    const bool byId = source.matchRule() == diskio::MatchRule::LinuxById;
    for (const std::u16string& path : present) {
        const bool match = byId ? byIdNameMatches(path, vendor, product)
                                : interfacePathMatches(path, vendor, product);
        if (!match)
            continue;
        if (path.size() >= static_cast<std::size_t>(kDiskPathUnits)) {
            deviceLog("discovery: skipped an update disk whose path is too long: " +
                      toUtf8(path.substr(0, 80)) + "...");
            continue;
        }
        diskio::DiskCheck check = source.checkDisk(path, vendor, product);
        if (!check.isUpdateDisk) {
            logLeftOut(path, check.whyNot);
            continue;
        }
        found.push_back({path, std::move(check)});
    }
    return found;
}

int countUpdateDisks(const char16_t* vendor, const char16_t* product) {
    // Polled every 500 ms: only a change is worth a log line.
    static std::atomic<int> lastCount{-1};
    std::lock_guard<std::mutex> hold(UpdateDiskTable.lock);
    const int count = static_cast<int>(scanUpdateDisks(vendor, product).size());
    if (lastCount.exchange(count) != count)
        deviceLog("discovery: " + std::to_string(count) + " update disk(s) connected");
    return count;
}

int findUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                    int maxCount) {
    maxCount = std::clamp(maxCount, 0, kMaxUpdateDisks);
    const std::vector<FoundDisk> found = scanUpdateDisks(vendor, product);
    const int count = std::min(maxCount, static_cast<int>(found.size()));
    for (int i = 0; i < count; ++i) {
        const FoundDisk& disk = found[static_cast<std::size_t>(i)];
        std::copy(disk.path.begin(), disk.path.end(), table.paths[i]);
        table.paths[i][disk.path.size()] = 0;
        table.checked[i] = disk.check;
    }
    return count;
}

int waitForUpdateDisks(DiskTable& table, const char16_t* vendor, const char16_t* product,
                       int maxCount) {
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
    std::lock_guard<std::mutex> hold(UpdateDiskTable.lock);
    const int found = findUpdateDisks(UpdateDiskTable, vendor, product, kMaxUpdateDisks);
    if (lastFound.exchange(found) != found)
        deviceLog("discovery: " + std::to_string(found) + " update disk(s) present");
    return found > 0;
}

std::u16string describeDisk(const DiskIdentity& identity) {
    if (!identity.serial.empty())
        return u"serial " + identity.serial;
    return identity.vendor + u" " + identity.model;
}
