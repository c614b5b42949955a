#include "base/utf16_text.h"
#include "device/calculators.h"
#include "device/disk_discovery.h"
#include "harness.h"
#include "support.h"

#include <algorithm>

namespace {

// A disk list of the test's own, counting the scans made of it.
class ScriptedDisks : public diskio::DiskSource {
public:
    diskio::MatchRule rule = diskio::MatchRule::InterfacePath;
    std::vector<std::u16string> present;
    int emptyScansBeforePresent = 0;
    int scans = 0;

    diskio::MatchRule matchRule() const override { return rule; }
    bool listDisks(std::vector<std::u16string>& paths) override {
        ++scans;
        paths.clear();
        if (scans > emptyScansBeforePresent)
            paths = present;
        return true;
    }
    diskio::OpenResult openDisk(const std::u16string&, const diskio::DiskCheck&) override {
        return {nullptr, u"no"};
    }
    diskio::HoldResult holdDisk(const std::u16string&, const diskio::DiskCheck&) override {
        return {nullptr, false, u"no"};
    }
};

const std::u16string kUpdatePath =
    u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#0001&0#{53f56307-b6bf-11d0-94f2-"
    u"00a0c91efb8b}";

struct SourceScope {
    explicit SourceScope(diskio::DiskSource* s) { diskio::setDiskSourceOverride(s); }
    ~SourceScope() { diskio::setDiskSourceOverride(nullptr); }
};

} // namespace

DEVICE_TEST(normalizeUsbIdTextCases) {
    struct Row {
        const char16_t* in;
        const char16_t* out;
        int length;
    };
    const Row rows[] = {
        {u"Orvane", u"orvane", 6},
        {u"Vela update", u"vela_update", 11},
        {u"", u"", 0},
        {u"A_B",
         u"a\x7F"
         u"b",
         3},
        {u"1234567890123456789012345678901", u"1234567890123456789012345678901", 31},
        {u"12345678901234567890123456789012", u"", -1}, // 32 units do not fit
    };
    for (const Row& row : rows) {
        char16_t out[kNormalizedUnits];
        const int length = normalizeUsbIdText(out, row.in);
        CHECK_EQ(length, row.length, toUtf8(row.in));
        CHECK(std::u16string(out) == row.out, toUtf8(row.in));
    }
}

DEVICE_TEST(interfacePathMatching) {
    struct Row {
        const char* label;
        std::u16string path;
        const char16_t* vendor;
        const char16_t* product;
        bool match;
    };
    const std::vector<Row> rows = {
        {"update disk", kUpdatePath, updateVendorId, updateProductId, true},
        {"bare pattern", u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update", updateVendorId,
         updateProductId, true},
        {"vendor in upper case", u"\\\\?\\usbstor#disk&ven_ORVANE&prod_vela_update#1",
         updateVendorId, updateProductId, false},
        {"product in upper case", u"\\\\?\\usbstor#disk&ven_orvane&prod_VELA_UPDATE#1",
         updateVendorId, updateProductId, false},
        {"another product", u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_storage#1", updateVendorId,
         updateProductId, false},
        {"another vendor", u"\\\\?\\usbstor#disk&ven_sandisk&prod_vela_update#1", updateVendorId,
         updateProductId, false},
        {"underscore in the product text", u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update#1",
         updateVendorId, u"Vela_update", false},
        {"a longer product is another product",
         u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_updater#1", updateVendorId, updateProductId,
         false},
        {"the product field ends at the revision",
         u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#1&0#{x}", updateVendorId,
         updateProductId, true},
        {"a lookalike product with a suffix",
         u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update_2&rev_1.00#1&0#{x}", updateVendorId,
         updateProductId, false},
        {"a lookalike before the real one",
         u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update_2#\\\\?\\usbstor#disk&ven_orvane&prod_"
         u"vela_update&rev_1#1",
         updateVendorId, updateProductId, true},
        {"not a usb storage path", u"\\\\?\\scsi#disk&ven_orvane&prod_vela_update#1",
         updateVendorId, updateProductId, false},
    };
    for (const Row& row : rows)
        CHECK_EQ(interfacePathMatches(row.path, row.vendor, row.product), row.match, row.label);
}

// The wait before a transfer: up to six scans, 500 ms apart, until any
// calculator is present (a new run), or every member of the set is.
DEVICE_TEST(waitForTheCalculatorsOfASet) {
    struct Row {
        const char* label;
        int emptyScans; // scans that list nothing before the disks show
        bool present;
        bool members;    // the set names the two calculators
        ResultCode code; // 107: found (the scripted disks cannot be opened)
        int scans;
    };
    const Row rows[] = {
        {"never present: six scans", 0, false, false, kResultNoDisk, 6},
        {"present at once", 0, true, false, kResultDiskOpen, 1},
        {"present at the sixth scan", 5, true, false, kResultDiskOpen, 6},
        {"present only at a seventh scan", 6, true, false, kResultNoDisk, 6},
        {"the members present at the third scan", 2, true, true, kResultDiskOpen, 3},
        {"a member never present", 0, false, true, kResultNoDisk, 6},
    };
    for (const Row& row : rows) {
        ScriptedDisks disks;
        disks.emptyScansBeforePresent = row.emptyScans;
        if (row.present)
            disks.present = {u"\\\\?\\other#disk", kUpdatePath, kUpdatePath + u"2"};
        SourceScope scope(&disks);
        CalculatorSet set;
        if (row.members) {
            set.everyPresent = false;
            set.members = {identityFromPath(kUpdatePath, updateVendorId, updateProductId),
                           identityFromPath(kUpdatePath + u"2", updateVendorId, updateProductId)};
        }
        const DeviceResult result = writeFile(set, {u"f", u"f", 0}, {});
        CHECK_EQ(result.code, row.code, row.label);
        CHECK_EQ(disks.scans, row.scans, row.label);
        if (row.code == kResultDiskOpen)
            CHECK_EQ(result.calculators.size(), std::size_t(2), row.label);
    }
}

DEVICE_TEST(findCalculatorsBounds) {
    ScriptedDisks disks;
    const std::u16string tooLong = kUpdatePath + std::u16string(260, u'x');
    disks.present = {kUpdatePath + u"a", tooLong, kUpdatePath + u"b", u"\\\\?\\scsi#disk"};
    SourceScope scope(&disks);
    const std::vector<FoundCalculator> found = findCalculators();
    CHECK_EQ(found.size(), std::size_t(2), "the long path and the other disk left out");
    CHECK(found.size() == 2 && found[1].path == kUpdatePath + u"b", "in listing order");
}

DEVICE_TEST(byteNamesRoundTrip) {
    const std::string names[] = {"usb-Orvane_Vela_update_\xff-0:0",
                                 "usb-Orvane_Vela_update_\xfe-0:0",
                                 "caf\xc3\xa9",
                                 "overlong \xc0\xaf",
                                 "surrogate \xed\xa0\x80",
                                 "emoji \xf0\x9f\x98\x80 then \xed\xb2\x80"};
    std::vector<std::u16string> seen;
    for (const std::string& name : names) {
        const std::u16string wide = utf16FromByteName(name);
        CHECK(byteNameFromUtf16(wide) == name, name);
        CHECK(std::find(seen.begin(), seen.end(), wide) == seen.end(), "distinct: " + name);
        seen.push_back(wide);
    }
    CHECK(utf16FromByteName("caf\xc3\xa9") == u"caf\u00e9", "valid UTF-8 is decoded");
    // As a terminal may show them: nothing a terminal acts on gets through.
    const std::pair<std::string, std::string> shown[] = {
        {"plain caf\xc3\xa9", "plain caf\xc3\xa9"},
        {std::string("nul\0here", 8), "nul\\x00here"},
        {"line\nbreak\ttab\r", "line\\nbreak\\ttab\\r"},
        {"\x1b[2J clear", "\\x1b[2J clear"},
        {"C1 \xc2\x9b csi", "C1 \\x9b csi"},
        {"not text \xff", "not text \\xff"},
    };
    for (const auto& [raw, expected] : shown)
        CHECK_EQ(escapedForDisplay(raw), expected, expected);
}

DEVICE_TEST(identityFromInterfacePaths) {
    struct Row {
        const char* label;
        std::u16string instance;
        std::u16string serial;
        std::u16string port;
    };
    const std::vector<Row> rows = {
        {"a serial and its LUN", u"0001&0", u"0001", u""},
        {"a serial with an ampersand of its own", u"AB&CD&1", u"AB&CD", u""},
        {"no LUN", u"0001", u"0001", u""},
        // Made up by Windows for a device without a serial number.
        {"no serial: the port", u"7&2a4c6b3&0&000000", u"", u"7&2a4c6b3&0&000000"},
    };
    for (const Row& row : rows) {
        const std::u16string path = u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#" +
                                    row.instance + u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
        const DiskIdentity identity = identityFromPath(path, updateVendorId, updateProductId);
        CHECK(identity.serial == row.serial, row.label);
        CHECK(identity.port == row.port, row.label);
    }
}

DEVICE_TEST(identitiesToldApart) {
    // Serials say who a calculator is wherever it is; without one only where
    // it is now tells two apart, and a disk sequence number once it left.
    const DiskIdentity a{u"Orvane", u"Vela update", u"1", u"1-1", 8, 1};
    struct Row {
        const char* label;
        DiskIdentity other;
        bool same;
    };
    const Row rows[] = {
        {"with a serial, elsewhere", {u"Orvane", u"Vela update", u"1", u"1-2", 9, 2}, true},
        {"another serial", {u"Orvane", u"Vela update", u"2", u"1-1", 8, 1}, false},
        {"no serial, same place", {u"Orvane", u"Vela update", u"", u"1-1", 8, 1}, false},
    };
    for (const Row& row : rows)
        CHECK_EQ(a == row.other, row.same, row.label);
    const DiskIdentity here{u"Orvane", u"Vela update", u"", u"1-1", 8, 1};
    const Row serialLess[] = {
        {"no serial, the same device", here, true},
        {"no serial, another port", {u"Orvane", u"Vela update", u"", u"1-2", 8, 1}, false},
        {"no serial, plugged in again", {u"Orvane", u"Vela update", u"", u"1-1", 8, 2}, false},
    };
    for (const Row& row : serialLess)
        CHECK_EQ(here == row.other, row.same, row.label);
    CHECK(describeDisk(a) == u"serial 1" && describeDisk(here) == u"USB port 1-1", "names");
}
