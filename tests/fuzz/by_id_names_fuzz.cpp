// libFuzzer target for the Linux discovery of the update disk over arbitrary
// by-id listings. Input: lines separated by '\n'. When bit 0 of the first
// byte is set, the first line (after that byte) is the vendor text and the
// second the product text; otherwise they are "Orvane" and "Vela update". The
// other lines are the names of the listing.
// Properties, each against a small rule written out here: the whole-disk
// filter keeps exactly the names that are neither empty, hidden nor
// "-part<digits>" links, sorted; a name matches exactly when its lower-cased
// form starts with "usb-<vendor>_<product>" followed by '_' or '-'; an
// interface path matches when the pattern occurs followed by '&', '#' or the
// end; a scan fills the table with the first 16 matching paths that fit, in
// listing order.
#include "base/utf16_text.h"
#include "device/disk_discovery.h"
#include "device/update_disk.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const std::u16string kByIdDir = u"/dev/disk/by-id/";

bool referencePartition(const std::string& name) {
    std::size_t digits = 0;
    while (digits < name.size() && name[name.size() - 1 - digits] >= '0' &&
           name[name.size() - 1 - digits] <= '9')
        ++digits;
    return digits > 0 && name.size() >= digits + 5 &&
           name.compare(name.size() - digits - 5, 5, "-part") == 0;
}

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

bool referenceMatch(const std::u16string& path, const std::u16string& vendor,
                    const std::u16string& product) {
    std::u16string v, p;
    if (!referenceNormal(vendor, v) || !referenceNormal(product, p))
        return false;
    const std::size_t slash = path.rfind(u'/');
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    for (char16_t& c : name)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
    const std::u16string prefix = u"usb-" + v + u"_" + p;
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           (name[prefix.size()] == u'_' || name[prefix.size()] == u'-');
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
    diskio::MatchRule matchRule() const override { return diskio::MatchRule::LinuxById; }
    bool listDisks(std::vector<std::u16string>& out) override {
        out = paths;
        return true;
    }
    diskio::OpenResult openDisk(const std::u16string&, const diskio::DiskCheck&) override {
        return {nullptr, u"none"};
    }
};

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

    std::vector<std::string> kept;
    for (const std::string& name : names)
        if (!name.empty() && name[0] != '.' && !referencePartition(name))
            kept.push_back(name);
    std::sort(kept.begin(), kept.end());
    const std::vector<std::string> whole = wholeDiskByIdNames(names);
    FUZZ_CHECK(whole == kept);

    static ListedDisks source;
    source.paths.clear();
    std::vector<std::u16string> expectedTable;
    for (const std::string& name : whole) {
        const std::u16string path = kByIdDir + toUtf16(name);
        source.paths.push_back(path);
        const bool match = byIdNameMatches(path, vendor.c_str(), product.c_str());
        FUZZ_CHECK(match == referenceMatch(path, vendor, product));
        FUZZ_CHECK(interfacePathMatches(path, vendor.c_str(), product.c_str()) ==
                   referenceInterfaceMatch(path, vendor, product));
        // The table holds 16 paths of at most 259 units; longer ones are skipped.
        if (match && expectedTable.size() < std::size_t(kMaxUpdateDisks) &&
            path.size() < std::size_t(kDiskPathUnits))
            expectedTable.push_back(path);
    }

    static DiskTable table;
    diskio::setDiskSourceOverride(&source);
    const int found = findUpdateDisks(table, vendor.c_str(), product.c_str(), kMaxUpdateDisks);
    diskio::setDiskSourceOverride(nullptr);
    FUZZ_CHECK(found == int(expectedTable.size()));
    for (int i = 0; i < found; ++i) {
        const std::u16string& expected = expectedTable[std::size_t(i)];
        FUZZ_CHECK(std::u16string(table.paths[i], expected.size()) == expected);
        FUZZ_CHECK(table.paths[i][expected.size()] == 0);
    }
    return 0;
}
