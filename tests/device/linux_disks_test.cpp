// The Linux backend against loop block devices dressed up as calculators: a
// by-id folder of the test's own, and for each loop device an entry in
// /sys/dev/block that says what it is. in_private_sysfs.sh runs this program
// in a mount namespace of its own where /sys/dev/block is an empty tmpfs, so
// nothing here touches the kernel's records or a real disk.
#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/disk_testing.h"
#include "device/file_transfer.h"
#include "device/update_disk.h"
#include "device/update_run.h"
#include "harness.h"
#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const std::string kSysDevBlock = "/sys/dev/block";
constexpr std::uint64_t kOffset = 0x100000;

std::string workDir() {
    const char* dir = std::getenv("UPDATER_TEST_WORK");
    return dir ? dir : "";
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A loop device over a file of the test's own; detached when destroyed.
struct LoopDisk {
    std::string file;
    std::string device;
    LoopDisk(const std::string& name, std::uint64_t bytes) : file(workDir() + "/" + name + ".img") {
        run("rm -f '" + file + "' && truncate -s " + std::to_string(bytes) + " '" + file + "'");
        FILE* out = ::popen(("losetup -f --show '" + file + "'").c_str(), "r");
        char line[128] = {};
        if (out && std::fgets(line, sizeof line, out))
            device = std::string(line, std::strcspn(line, "\n"));
        if (out)
            ::pclose(out);
    }
    ~LoopDisk() {
        if (!device.empty())
            run("losetup -d " + device);
    }
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;

    // The kernel's record of this device, as the test wants it to read.
    void describe(const std::string& vendor, const std::string& model, bool partition = false) {
        struct stat info {};
        if (::stat(device.c_str(), &info) != 0)
            return;
        const std::string entry = kSysDevBlock + "/" + std::to_string(major(info.st_rdev)) + ":" +
                                  std::to_string(minor(info.st_rdev));
        run("rm -rf '" + entry + "'");
        if (vendor.empty())
            return; // a block device the kernel says nothing about
        run("mkdir -p '" + entry + "/device'");
        // Padded the way SCSI inquiry strings are.
        run("printf '%-8s\\n' '" + vendor + "' > '" + entry + "/device/vendor'");
        run("printf '%-16s\\n' '" + model + "' > '" + entry + "/device/model'");
        if (partition)
            run("echo 1 > '" + entry + "/partition'");
    }
    bool untouched() const {
        return run("cmp -s -n $(stat -c %s '" + file + "') '" + file + "' /dev/zero");
    }
    bool holds(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) const {
        return support::readFile(file, offset, bytes.size()) == bytes;
    }
};

std::string byIdDir() {
    return workDir() + "/by-id";
}

void freshByIdDir() {
    run("rm -rf '" + byIdDir() + "' && mkdir -p '" + byIdDir() + "'");
    diskio::testing::setLinuxDiskRoots(byIdDir(), "");
    currentUpdateRun().end();
    support::resetCallbacks();
}

// A by-id link (not ::link, which makes hard links).
void byIdLink(const std::string& target, const std::string& name) {
    const std::string path = byIdDir() + "/" + name;
    ::unlink(path.c_str());
    CHECK(::symlink(target.c_str(), path.c_str()) == 0, name);
}

void unlinkName(const std::string& name) {
    ::unlink((byIdDir() + "/" + name).c_str());
}

std::string firmware(const std::string& name, std::size_t size, unsigned seed) {
    const std::string path = workDir() + "/" + name;
    support::writeFile(path, support::pattern(size, seed));
    return path;
}

// Why the last transfer failed, as the dialog would show it.
std::u16string lastCause;

ResultCode transfer(const std::string& path, std::uint64_t offset = kOffset) {
    const std::u16string wide = toUtf16(path);
    const TransferReport report =
        transferInUpdateRun(updateVendorId, updateProductId, wide.c_str(), offset,
                            support::onProgress, support::onMessage);
    lastCause = report.cause;
    return report.result;
}

std::mutex logLock;
std::vector<std::string> logLines;
void recordLog(const char* line) {
    std::lock_guard<std::mutex> hold(logLock);
    logLines.emplace_back(line);
}
bool logged(const std::string& part) {
    std::lock_guard<std::mutex> hold(logLock);
    for (const std::string& line : logLines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

const std::string kCalculator = "usb-Orvane_Vela_update_";

// The finish record's command code at its place in the control sector.
bool finishSent(const LoopDisk& disk) {
    const auto record = support::readFile(disk.file, 87040 + 12, 4);
    return record == std::vector<std::uint8_t>{0xC1, 0xBE, 0, 0};
}

} // namespace

DEVICE_TEST(inAPrivateSysfs) {
    // Everything below writes to /sys/dev/block: only ever to the test's own.
    CHECK(::access((kSysDevBlock + "/.updater-test").c_str(), F_OK) == 0,
          "run through in_private_sysfs.sh");
    CHECK(!workDir().empty(), "UPDATER_TEST_WORK");
    if (::access((kSysDevBlock + "/.updater-test").c_str(), F_OK) != 0)
        std::exit(1);
}

DEVICE_TEST(wholeUpdateLeavesLookalikesAlone) {
    struct Lookalike {
        const char* label;
        const char* name;
        const char* vendor; // null: the link leads to /dev/null
        const char* model;
        bool partition;
    };
    const Lookalike lookalikes[] = {
        {"another product whose name begins alike", "usb-Orvane_Vela_update_2_SER2-0:0", "Orvane",
         "Vela update 2", false},
        {"a partition named like the calculator", "usb-Orvane_Vela_update_SER3-0:0", "Orvane",
         "Vela update", true},
        {"a character device", "usb-Orvane_Vela_update_SER4-0:0", nullptr, nullptr, false},
        {"another vendor", "usb-Orvane_Vela_update_SER5-0:0", "Orvan", "Vela update", false},
        {"no SCSI identity", "usb-Orvane_Vela_update_SER6-0:0", "", "", false},
    };
    freshByIdDir();
    setDeviceLogSink(recordLog);
    LoopDisk a("a", 8 << 20), b("b", 8 << 20);
    a.describe("Orvane", "Vela update");
    b.describe("Orvane", "Vela update");
    byIdLink(a.device, kCalculator + "SERA-0:0");
    byIdLink(b.device, kCalculator + "SERB-0:0");
    std::vector<std::unique_ptr<LoopDisk>> others;
    for (const Lookalike& l : lookalikes) {
        if (!l.vendor) {
            byIdLink("/dev/null", l.name);
            continue;
        }
        others.push_back(std::make_unique<LoopDisk>(std::string("look") + l.name, 8 << 20));
        others.back()->describe(l.vendor, l.model, l.partition);
        byIdLink(others.back()->device, l.name);
    }

    DiskTable table;
    CHECK_EQ(findUpdateDisks(table, updateVendorId, updateProductId, 16), 2, "found");
    for (const Lookalike& l : lookalikes)
        CHECK(logged("left out " + byIdDir() + "/" + l.name), l.label);

    const std::uint64_t offsets[] = {0, 0x100000, 0x500000};
    const std::size_t sizes[] = {70001, 40000, 3 * 16384};
    for (int i = 0; i < 3; ++i) {
        const std::string path = firmware("image" + std::to_string(i), sizes[i], 50 + i);
        CHECK_EQ(transfer(path, offsets[i]), kResultOk, "file " + std::to_string(i));
    }
    CHECK_EQ(releaseUpdateDisks(updateVendorId, updateProductId), kResultOk, "release");
    for (int i = 0; i < 3; ++i) {
        const auto bytes = support::pattern(sizes[i], 50 + i);
        CHECK(a.holds(offsets[i], bytes), "calculator A, file " + std::to_string(i));
        CHECK(b.holds(offsets[i], bytes), "calculator B, file " + std::to_string(i));
    }
    CHECK(finishSent(a) && finishSent(b), "finish command");
    for (std::size_t i = 0; i < others.size(); ++i)
        CHECK(others[i]->untouched(), others[i]->file);
    setDeviceLogSink(nullptr);
}

DEVICE_TEST(linkChangedBetweenDiscoveryAndOpen) {
    struct Row {
        const char* label;
        const char* swapTo; // "other": another calculator; "look": a lookalike; else a path
        const char* failure;
    };
    const Row rows[] = {
        {"another calculator", "other", "changed since"},
        {"a lookalike disk", "look", "changed since"},
        {"a character device", "/dev/null", "not a block device"},
    };
    for (const Row& row : rows) {
        freshByIdDir();
        LoopDisk first("first", 4 << 20), other("other", 4 << 20);
        first.describe("Orvane", "Vela update");
        other.describe("Orvane",
                       std::string(row.swapTo) == "look" ? "Vela update 2" : "Vela update");
        byIdLink(first.device, kCalculator + "1-0:0");
        DiskTable& table = UpdateDiskTable;
        std::lock_guard<std::mutex> hold(table.lock);
        table.count = findUpdateDisks(table, updateVendorId, updateProductId, 16);
        CHECK_EQ(table.count, 1, row.label);
        const std::string to = row.swapTo[0] == '/' ? row.swapTo : other.device;
        byIdLink(to, kCalculator + "1-0:0");
        CHECK_EQ(openUpdateDisks(), 0, row.label);
        CHECK(toUtf8(table.openFailure[0]).find(row.failure) != std::string::npos,
              std::string(row.label) + ": " + toUtf8(table.openFailure[0]));
        closeUpdateDisks();
        table.count = 0;
    }
}

DEVICE_TEST(aCalculatorJoiningMidRunIsLeftAlone) {
    // A is unplugged after the first file and B plugged in: B gets nothing,
    // not even the finish command, and the run cannot succeed without A.
    freshByIdDir();
    LoopDisk a("a", 8 << 20), b("b", 8 << 20);
    a.describe("Orvane", "Vela update");
    b.describe("Orvane", "Vela update");
    byIdLink(a.device, kCalculator + "SERA-0:0");
    const std::string first = firmware("first", 40000, 61);
    const std::string second = firmware("second", 40000, 62);
    CHECK_EQ(transfer(first, 0x100000), kResultOk, "first file on A");
    unlinkName(kCalculator + "SERA-0:0");
    byIdLink(b.device, kCalculator + "SERB-0:0");
    CHECK_EQ(transfer(second, 0x500000), kResultNoDisk, "second file without A");
    CHECK(toUtf8(lastCause).find("serial SERA") != std::string::npos, toUtf8(lastCause));
    const auto leftAlone = currentUpdateRun().leftAlone();
    CHECK(leftAlone.size() == 1 && leftAlone[0].serial == u"SERB", "B is reported left alone");
    CHECK(b.untouched(), "B untouched by the transfer");
    // A comes back under its own serial: the run goes on.
    byIdLink(a.device, kCalculator + "SERA-0:0");
    CHECK_EQ(transfer(second, 0x500000), kResultOk, "second file once A is back");
    unlinkName(kCalculator + "SERA-0:0");
    CHECK_EQ(releaseUpdateDisks(updateVendorId, updateProductId), kResultNoDisk, "release");
    CHECK(b.untouched(), "B untouched by the release");
    CHECK(a.holds(0x500000, support::pattern(40000, 62)), "A holds the second file");
}

DEVICE_TEST(seventeenCalculatorsNothingWritten) {
    freshByIdDir();
    std::vector<std::unique_ptr<LoopDisk>> disks;
    for (int i = 0; i < 17; ++i) {
        disks.push_back(std::make_unique<LoopDisk>("many" + std::to_string(i), 2 << 20));
        disks.back()->describe("Orvane", "Vela update");
        byIdLink(disks.back()->device, kCalculator + "M" + std::to_string(100 + i) + "-0:0");
    }
    CHECK_EQ(countUpdateDisks(updateVendorId, updateProductId), 17, "count");
    CHECK_EQ(transfer(firmware("small", 20000, 63)), kResultNoDisk, "refused");
    CHECK(toUtf8(lastCause).find("More than 16") != std::string::npos, toUtf8(lastCause));
    for (const auto& disk : disks)
        CHECK(disk->untouched(), disk->file);
    CHECK(!currentUpdateRun().begun(), "no run begun");
}

DEVICE_TEST(linuxTransferResults) {
    struct Row {
        const char* label;
        const char* byteName; // the link's serial, raw bytes
        std::uint64_t bytes;  // of the loop device; 0: no second disk
        const char* secondName;
        ResultCode code;
        const char* failure; // part of lastCause
    };
    const Row rows[] = {
        {"one disk", "1", 0, nullptr, kResultOk, ""},
        {"names that differ only in invalid UTF-8 are two disks", "\xff", 4 << 20, "\xfe",
         kResultOk, ""},
        {"a disk too small for the image", "1", 1 << 20, "2", kResultWrite,
         "Write Disk File: No space left on device"},
    };
    for (const Row& row : rows) {
        freshByIdDir();
        LoopDisk one("one", 4 << 20);
        one.describe("Orvane", "Vela update");
        byIdLink(one.device, kCalculator + row.byteName + "-0:0");
        std::unique_ptr<LoopDisk> two;
        if (row.secondName) {
            two = std::make_unique<LoopDisk>("two", row.bytes);
            two->describe("Orvane", "Vela update");
            byIdLink(two->device, kCalculator + row.secondName + "-0:0");
        }
        const auto bytes = support::pattern(3 * 16384 + 700, 31);
        CHECK_EQ(transfer(firmware("image.bin", bytes.size(), 31)), row.code, row.label);
        CHECK(toUtf8(lastCause).find(row.failure) != std::string::npos,
              std::string(row.label) + ": " + toUtf8(lastCause));
        CHECK(one.holds(kOffset, bytes), row.label);
        if (two && row.code == kResultOk)
            CHECK(two->holds(kOffset, bytes), row.label);
    }
    freshByIdDir();
    CHECK_EQ(transfer(firmware("image.bin", 100, 31)), kResultNoDisk, "no update disk");
    CHECK(toUtf8(lastCause).find("No update disk") != std::string::npos, "no disk text");
    diskio::testing::setLinuxDiskRoots("", "");
}
