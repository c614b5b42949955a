// The Win32 backend against files standing in for update disks: the list of
// disks comes from the test, everything after it is CreateFileW, ReadFile,
// WriteFile, SetFilePointer, FlushFileBuffers and the transfer threads.
#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/update_disk.h"
#include "device/windows/windows_disks.h"
#include "harness.h"
#include "support.h"

namespace {

std::u16string interfacePath(int n, const char16_t* vendorAndProduct) {
    return u"\\\\?\\usbstor#disk&" + std::u16string(vendorAndProduct) + u"&rev_1.00#000" +
           toUtf16(std::to_string(n)) + u"&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

struct Disk {
    const char16_t* vendorAndProduct;
    bool exists;
};

} // namespace

DEVICE_TEST(windowsTransferResults) {
    struct Row {
        const char* label;
        std::vector<Disk> disks;
        ResultCode code;
        std::vector<int> holding;
    };
    const std::vector<Row> rows = {
        {"one disk", {{u"ven_orvane&prod_vela_update", true}}, kResultOk, {0}},
        {"two disks",
         {{u"ven_orvane&prod_vela_update", true}, {u"ven_orvane&prod_vela_update", true}},
         kResultOk,
         {0, 1}},
        {"upper-case vendor is not the update disk",
         {{u"ven_ORVANE&prod_vela_update", true}},
         kResultNoDisk,
         {}},
        {"one of two cannot be opened",
         {{u"ven_orvane&prod_vela_update", false}, {u"ven_orvane&prod_vela_update", true}},
         kResultDiskOpen,
         {1}},
    };
    virtual_calculator::uninstall();
    const std::string dir = support::tempDir("windows");
    const std::size_t size = 5 * 16384 + 1000;
    const auto bytes = support::pattern(size, 41);
    const std::string image = dir + "\\image.bin";
    support::writeFile(image, bytes);
    for (const Row& row : rows) {
        std::vector<DiskListEntry> list;
        for (std::size_t i = 0; i < row.disks.size(); ++i) {
            const std::string file = dir + "\\disk" + std::to_string(i) + ".img";
            std::remove(file.c_str());
            if (row.disks[i].exists)
                support::writeFile(file, std::vector<std::uint8_t>(2 << 20, 0));
            list.push_back(
                {interfacePath(static_cast<int>(i), row.disks[i].vendorAndProduct), toUtf16(file)});
        }
        setWindowsDiskListForTest(list);
        support::resetCallbacks();
        const std::u16string path = toUtf16(image);
        CHECK_EQ(runFileTransfer(updateVendorId, updateProductId, path.c_str(), 0x100000,
                                 support::onProgress, support::onMessage),
                 row.code, row.label);
        for (int n : row.holding) {
            const std::string file = dir + "\\disk" + std::to_string(n) + ".img";
            CHECK(support::readFile(file, 0x100000, size) == bytes, row.label);
        }
        if (row.code == kResultOk)
            CHECK_EQ(support::progressSeen().size(), row.disks.size() * 7, row.label);
        if (row.code == kResultDiskOpen)
            CHECK(!lastFailureText().empty(), row.label);
    }
    clearWindowsDiskListForTest();
}
