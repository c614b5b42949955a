// The Linux backend against a by-id folder of the test's own, whose links
// lead to plain files (and /dev/full) instead of USB disks.
#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/update_disk.h"
#include "harness.h"
#include "support.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

struct Link {
    std::string name;
    std::string target; // "@n": the test's disk file n
};

std::string diskFile(const std::string& dir, int n) {
    return dir + "/disk" + std::to_string(n) + ".img";
}

// A fresh by-id folder holding these links, made the one the backend lists.
std::string makeByIdFolder(const std::string& label, const std::vector<Link>& links) {
    const std::string dir = support::tempDir("byid-" + label);
    const std::string byId = dir + "/by-id";
    std::system(("rm -rf '" + byId + "' && mkdir -p '" + byId + "'").c_str());
    for (const Link& link : links) {
        std::string target = link.target;
        if (!target.empty() && target[0] == '@') {
            target = diskFile(dir, std::atoi(target.c_str() + 1));
            support::writeFile(target, std::vector<std::uint8_t>(2 << 20, 0));
        }
        CHECK(::symlink(target.c_str(), (byId + "/" + link.name).c_str()) == 0, link.name);
    }
    ::setenv("UPDATER_DISK_BY_ID_DIR", byId.c_str(), 1);
    return dir;
}

} // namespace

DEVICE_TEST(linuxByIdListing) {
    virtual_calculator::uninstall();
    const std::string dir =
        makeByIdFolder("listing", {{"usb-Orvane_Vela_update_0001-0:0", "@0"},
                                   {"usb-Orvane_Vela_update_0001-0:0-part1", "@0"},
                                   {"usb-ORVANE_VELA_UPDATE-0:0", "@1"},
                                   {"usb-Orvane_Vela_updater_3-0:0", "@2"},
                                   {"usb-Sandisk_Cruzer_Blade_4C53-0:0", "@3"},
                                   {"ata-Orvane_Vela_update_5", "@4"}});
    DiskTable table;
    CHECK_EQ(findUpdateDisks(table, updateVendorId, updateProductId, 16), 2, "found");
    CHECK_EQ(toUtf8(table.paths[0]), dir + "/by-id/usb-ORVANE_VELA_UPDATE-0:0", "first");
    CHECK_EQ(toUtf8(table.paths[1]), dir + "/by-id/usb-Orvane_Vela_update_0001-0:0", "second");
    ::unsetenv("UPDATER_DISK_BY_ID_DIR");
}

DEVICE_TEST(linuxTransferResults) {
    struct Row {
        const char* label;
        std::vector<Link> links;
        ResultCode code;
        const char* failure;      // part of lastFailureText()
        std::vector<int> holding; // disk files that must hold the image
    };
    const std::vector<Row> rows = {
        {"one disk", {{"usb-Orvane_Vela_update_1-0:0", "@0"}}, kResultOk, "", {0}},
        {"two disks",
         {{"usb-Orvane_Vela_update_1-0:0", "@0"}, {"usb-Orvane_Vela_update_2-0:0", "@1"}},
         kResultOk,
         "",
         {0, 1}},
        {"a link to nothing",
         {{"usb-Orvane_Vela_update_1-0:0", "@0"}, {"usb-Orvane_Vela_update_2-0:0", "/nonexistent"}},
         kResultDiskOpen,
         "No such file",
         {0}},
        {"a disk that is always full",
         {{"usb-Orvane_Vela_update_1-0:0", "/dev/full"}},
         kResultWrite,
         "Write Disk File: No space left on device",
         {}},
        {"no update disk", {{"usb-Sandisk_Cruzer-0:0", "@0"}}, kResultNoDisk, "No update disk", {}},
    };
    virtual_calculator::uninstall();
    for (const Row& row : rows) {
        const std::string dir = makeByIdFolder("transfer", row.links);
        const std::size_t size = 3 * 16384 + 700;
        const auto bytes = support::pattern(size, 31);
        const std::string image = dir + "/image.bin";
        support::writeFile(image, bytes);
        support::resetCallbacks();
        const std::u16string path = toUtf16(image);
        CHECK_EQ(runFileTransfer(updateVendorId, updateProductId, path.c_str(), 0x100000,
                                 support::onProgress, support::onMessage),
                 row.code, row.label);
        CHECK(toUtf8(lastFailureText()).find(row.failure) != std::string::npos,
              std::string(row.label) + ": " + toUtf8(lastFailureText()));
        for (int n : row.holding) {
            CHECK(support::readFile(diskFile(dir, n), 0x100000, size) == bytes, row.label);
            CHECK(support::readFile(diskFile(dir, n), 0x100000 + size, 324) ==
                      std::vector<std::uint8_t>(324, 0),
                  row.label);
        }
        if (row.code == kResultWrite) {
            const auto messages = support::messagesSeen();
            CHECK(!messages.empty() && messages.back() == row.failure, row.label);
        }
    }
    ::unsetenv("UPDATER_DISK_BY_ID_DIR");
}
