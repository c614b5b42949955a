// libFuzzer target for the names discovery reads: Windows interface paths
// and the Linux kernel's uevent text. Input: lines separated by '\n'. When
// bit 0 of the first byte is set, the first line (after that byte) is the
// vendor text and the second the product text; otherwise they are "Orvane"
// and "Vela update". The other lines are interface paths; the whole input is
// also read as a uevent file.
// Properties, each against a small rule written out here: an interface path
// matches when the pattern occurs followed by '&', '#' or the end; a match
// has a serial or a port, never both; a scan keeps the
// matching paths that fit, in listing order; a uevent's device node is the
// value of its first DEVNAME line, unless that would lead out of /dev.
#include "base/utf16_text.h"
#include "device/calculators.h"
#include "device/disk_discovery.h"
#include "device/linux/sysfs_text.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The id text as udev writes it: bit 0x20 set on every unit, space as '_'.
// Empty (nothing matches) when the text has 32 units or more.
bool referenceNormal(const std::u16string& text, std::u16string& out) {
    const std::u16string cut = text.substr(0, text.find(char16_t(0)));
    if (cut.size() >= kNormalizedUnits)
        return false;
    out.clear();
    for (const char16_t unit : cut) {
        const char16_t c = char16_t(unit | 0x20);
        out += c == 0x20 ? u'_' : c;
    }
    return true;
}

bool referenceInterfaceMatch(const std::u16string& path, const std::u16string& vendor,
                             const std::u16string& product) {
    std::u16string v, p;
    if (!referenceNormal(vendor, v) || !referenceNormal(product, p))
        return false;
    const std::u16string pattern = u"\\\\?\\usbstor#disk&ven_" + v + u"&prod_" + p;
    if (pattern.size() >= std::size_t(kPatternUnits))
        return false;
    // Some occurrence whose product field ends with the pattern.
    for (std::size_t at = 0; at + pattern.size() <= path.size(); ++at) {
        if (path.compare(at, pattern.size(), pattern) != 0)
            continue;
        const std::size_t end = at + pattern.size();
        if (end == path.size() || path[end] == u'&' || path[end] == u'#')
            return true;
    }
    return false;
}

class ListedDisks : public diskio::DiskSource {
public:
    std::vector<std::u16string> paths;
    diskio::MatchRule matchRule() const override { return diskio::MatchRule::InterfacePath; }
    bool listDisks(std::vector<std::u16string>& out) override {
        out = paths;
        return true;
    }
    diskio::OpenResult openDisk(const std::u16string&, const diskio::DiskCheck&) override {
        return {nullptr, u"none"};
    }
    diskio::HoldResult holdDisk(const std::u16string&, const diskio::DiskCheck&) override {
        return {nullptr, false, u"none"};
    }
};

// The value of the first DEVNAME= line, kept only when it names a node
// inside /dev.
std::string referenceDevName(const std::string& text) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        if (line.rfind("DEVNAME=", 0) == 0) {
            const std::string name = line.substr(8);
            std::vector<std::string> parts(1);
            for (char c : name) {
                if (c == '/')
                    parts.emplace_back();
                else
                    parts.back() += c;
            }
            const bool outside = name.empty() || name[0] == '/' ||
                                 std::find(parts.begin(), parts.end(), "..") != parts.end() ||
                                 name.find('\0') != std::string::npos;
            return outside ? std::string() : name;
        }
        at = end + 1;
    }
    return {};
}

std::vector<std::string> splitLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += char(data[i]);
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::vector<std::string> names = splitLines(data + 1, size - 1);
    std::u16string vendor = updateVendorId;
    std::u16string product = updateProductId;
    if ((data[0] & 1) && names.size() >= 2) {
        vendor = toUtf16(names[0]);
        product = toUtf16(names[1]);
        names.erase(names.begin(), names.begin() + 2);
    }

    FUZZ_CHECK(sysfs::devNameFromUevent(std::string(reinterpret_cast<const char*>(data), size)) ==
               referenceDevName(std::string(reinterpret_cast<const char*>(data), size)));

    static ListedDisks source;
    source.paths.clear();
    std::vector<std::u16string> expectedPaths;
    for (const std::string& name : names) {
        const std::u16string path = utf16FromByteName(name);
        source.paths.push_back(path);
        const bool match = interfacePathMatches(path, vendor.c_str(), product.c_str());
        FUZZ_CHECK(match == referenceInterfaceMatch(path, vendor, product));
        if (match) {
            const DiskIdentity identity = identityFromPath(path, vendor.c_str(), product.c_str());
            FUZZ_CHECK(identity.serial.empty() || identity.port.empty());
        }
        // A table entry holds at most 259 units: longer paths are skipped.
        if (match && path.size() < std::size_t(kDiskPathUnits))
            expectedPaths.push_back(path);
    }

    diskio::setDiskSourceOverride(&source);
    const std::vector<FoundDisk> found = scanUpdateDisks(vendor.c_str(), product.c_str());
    diskio::setDiskSourceOverride(nullptr);
    FUZZ_CHECK(found.size() == expectedPaths.size());
    for (std::size_t i = 0; i < found.size() && i < expectedPaths.size(); ++i)
        FUZZ_CHECK(found[i].path == expectedPaths[i]);
    return 0;
}
