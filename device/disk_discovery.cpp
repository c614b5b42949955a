#include "device/disk_discovery.h"

#include "base/utf16_text.h"
#include "device/device_log.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

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

} // namespace

bool interfacePathMatches(const std::u16string& path, const char16_t* vendor,
                          const char16_t* product) {
    return patternEnd(path, updateDiskPattern(vendor, product)) != std::u16string::npos;
}

DiskIdentity identityFromPath(const std::u16string& path, const char16_t* vendor,
                              const char16_t* product) {
    DiskIdentity identity;
    std::u16string v, p;
    if (!normalizePair(vendor, product, v, p))
        return identity;
    identity.vendor = v;
    identity.model = p;
    // ...&prod_<product>&rev_<revision>#<instance>#{class}
    const std::size_t end = patternEnd(path, updateDiskPattern(vendor, product));
    if (end == std::u16string::npos)
        return identity;
    const std::size_t first = path.find(u'#', end);
    if (first == std::u16string::npos)
        return identity;
    const std::size_t second = path.find(u'#', first + 1);
    const std::u16string instance = path.substr(
        first + 1, second == std::u16string::npos ? std::u16string::npos : second - first - 1);
    // Windows makes up an instance of its own ("7&2a4c6b3&0&000000", a '&' in
    // second place) for a device without a serial number, from the port it
    // is plugged into; otherwise the instance is the serial and the LUN.
    if (instance.size() >= 2 && instance[1] == u'&') {
        identity.port = instance;
        return identity;
    }
    const std::size_t lun = instance.rfind(u'&');
    const bool digits =
        lun != std::u16string::npos && lun + 1 < instance.size() &&
        std::all_of(instance.begin() + static_cast<std::ptrdiff_t>(lun + 1), instance.end(),
                    [](char16_t c) { return c >= u'0' && c <= u'9'; });
    identity.serial = digits ? instance.substr(0, lun) : instance;
    return identity;
}

namespace diskio {
DiskCheck DiskSource::checkDisk(const std::u16string& path, const char16_t* vendor,
                                const char16_t* product) {
    DiskCheck check;
    check.isUpdateDisk = true;
    check.identity = identityFromPath(path, vendor, product);
    return check;
}
} // namespace diskio

std::vector<FoundDisk> scanUpdateDisks(const char16_t* vendor, const char16_t* product) {
    diskio::DiskSource& source = diskio::activeDiskSource();
    std::vector<std::u16string> present;
    std::vector<FoundDisk> found;
    if (!source.listDisks(present)) {
        deviceLog("discovery: the list of disks could not be had");
        return found;
    }
    const bool listed = source.matchRule() == diskio::MatchRule::Listed;
    for (const std::u16string& path : present) {
        if (!listed && !interfacePathMatches(path, vendor, product))
            continue;
        if (path.size() >= static_cast<std::size_t>(kDiskPathUnits)) {
            deviceLog("discovery: skipped an update disk whose path is too long: " +
                      toUtf8(path.substr(0, 80)) + "...");
            continue;
        }
        diskio::DiskCheck check = source.checkDisk(path, vendor, product);
        if (!check.isUpdateDisk)
            continue;
        found.push_back({path, std::move(check)});
    }
    return found;
}
