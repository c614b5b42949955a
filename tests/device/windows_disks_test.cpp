// The Win32 backend against files standing in for update disks: the list of
// disks comes from the test, everything after it is CreateFileW, ReadFile,
// WriteFile, SetFilePointer, FlushFileBuffers and the transfer threads.
#include "base/utf16_text.h"
#include "device/calculators.h"
#include "device/disk_testing.h"
#include "harness.h"
#include "support.h"

#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

std::u16string interfacePath(int n, const char16_t* vendorAndProduct) {
    return u"\\\\?\\usbstor#disk&" + std::u16string(vendorAndProduct) + u"&rev_1.00#000" +
           toUtf16(std::to_string(n)) + u"&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

struct Disk {
    const char16_t* vendorAndProduct;
    bool exists;
};

// Wine presents no USB disk, so the test lists the disks itself, through the
// device layer's one override: interface paths, matched and checked as usual,
// each standing for a file that the real Win32 backend opens, reads and writes.
class ListedDisks : public diskio::DiskSource {
public:
    using Entry = std::pair<std::u16string, std::u16string>; // interface path, file
    explicit ListedDisks(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    diskio::MatchRule matchRule() const override { return diskio::MatchRule::InterfacePath; }
    bool listDisks(std::vector<std::u16string>& paths) override {
        paths.clear();
        for (const Entry& entry : entries_)
            paths.push_back(entry.first);
        return true;
    }
    diskio::DiskCheck checkDisk(const std::u16string& path, const char16_t* vendor,
                                const char16_t* product) override {
        return diskio::nativeDiskSource().checkDisk(path, vendor, product);
    }
    diskio::OpenResult openDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override {
        for (const Entry& entry : entries_) {
            if (entry.first == path)
                return diskio::nativeDiskSource().openDisk(entry.second, expected);
        }
        return {nullptr, u"not listed"};
    }
    diskio::HoldResult holdDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override {
        for (const Entry& entry : entries_) {
            if (entry.first == path)
                return diskio::nativeDiskSource().holdDisk(entry.second, expected);
        }
        return {nullptr, false, u"not listed"};
    }

private:
    std::vector<Entry> entries_;
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
        {"a product whose name only begins alike is left alone",
         {{u"ven_orvane&prod_vela_update_2", true}, {u"ven_orvane&prod_vela_update", true}},
         kResultOk,
         {1}},
    };
    virtual_calculator::uninstall();
    const std::string dir = support::tempDir("windows");
    const std::size_t size = 5 * 16384 + 1000;
    const auto bytes = support::pattern(size, 41);
    const std::string image = dir + "\\image.bin";
    support::writeFile(image, bytes);
    for (const Row& row : rows) {
        std::vector<ListedDisks::Entry> list;
        for (std::size_t i = 0; i < row.disks.size(); ++i) {
            const std::string file = dir + "\\disk" + std::to_string(i) + ".img";
            std::remove(file.c_str());
            if (row.disks[i].exists)
                support::writeFile(file, std::vector<std::uint8_t>(2 << 20, 0));
            list.push_back(
                {interfacePath(static_cast<int>(i), row.disks[i].vendorAndProduct), toUtf16(file)});
        }
        ListedDisks disks(list);
        diskio::setDiskSourceOverride(&disks);
        support::resetCallbacks();
        TransferObserver observer;
        observer.progress = [](const DiskIdentity&, int percent) { support::onProgress(percent); };
        const DeviceResult report =
            writeFile({}, {toUtf16(image), u"image.bin", 0x100000}, observer);
        CHECK_EQ(report.code, row.code, row.label);
        for (int n : row.holding) {
            const std::string file = dir + "\\disk" + std::to_string(n) + ".img";
            CHECK(support::readFile(file, 0x100000, size) == bytes, row.label);
        }
        if (row.code == kResultOk)
            CHECK_EQ(support::progressSeen().size(), row.holding.size() * 7, row.label);
        for (std::size_t i = 0; i < row.disks.size(); ++i) {
            const bool written = std::find(row.holding.begin(), row.holding.end(),
                                           static_cast<int>(i)) != row.holding.end();
            const std::string file = dir + "\\disk" + std::to_string(i) + ".img";
            if (!written && row.disks[i].exists)
                CHECK(support::readFile(file, 0, 2 << 20) == std::vector<std::uint8_t>(2 << 20, 0),
                      std::string(row.label) + ": disk " + std::to_string(i) + " untouched");
        }
        if (row.code == kResultDiskOpen)
            CHECK(!report.cause.empty(), row.label);
        diskio::setDiskSourceOverride(nullptr);
    }
}

DEVICE_TEST(devicePathWithinItsRecord) {
    // A record whose path has no terminator inside the bytes it was given:
    // the path ends there, whatever follows in memory.
    struct Row {
        const char* label;
        unsigned long pathUnits; // units of the path counted into the record's size
        std::u16string expected;
    };
    const std::vector<Row> rows = {
        {"terminated inside", 12, u"usbstor#ab"},
        {"no terminator: cut at the end of the record", 4, u"usbs"},
        {"nothing but the fixed part", 0, u""},
    };
    for (const Row& row : rows) {
        std::vector<unsigned char> memory(512, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(memory.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        const wchar_t text[] = L"usbstor#ab";
        std::memcpy(detail->DevicePath, text, sizeof text);
        std::memcpy(detail->DevicePath + 11, L"WRONG", 10); // beyond the terminator
        // No terminator at all from the fifth unit to the end of the memory.
        if (row.pathUnits < 10)
            std::memset(memory.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                            row.pathUnits * sizeof(wchar_t),
                        'x', 64);
        const unsigned long bytes =
            static_cast<unsigned long>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                       row.pathUnits * sizeof(wchar_t));
        CHECK(diskio::testing::devicePathOfDetail(detail, bytes) == row.expected, row.label);
    }
}

DEVICE_TEST(failedWaitStillWaitsForEveryThread) {
    // The disks are closed as soon as the wait returns: a wait that fails must
    // not return while a transfer thread still writes.
    static std::atomic<int> ended{0};
    ended = 0;
    std::vector<std::function<int()>> jobs;
    for (int i = 0; i < 3; ++i)
        jobs.emplace_back([i] {
            ::Sleep(50);
            ended.fetch_add(1);
            return 100 + i;
        });
    const std::vector<diskio::ThreadOutcome> outcomes =
        diskio::testing::runThreadsWithFailingWait(jobs);
    CHECK_EQ(ended.load(), 3, "every thread ended before the wait returned");
    for (int i = 0; i < 3; ++i)
        CHECK(outcomes[static_cast<std::size_t>(i)].haveCode &&
                  outcomes[static_cast<std::size_t>(i)].code == 100 + i,
              "exit code " + std::to_string(i));
}
