// The Linux backend against loop block devices dressed up as calculators
// (calculator_sysfs.sh). in_private_sysfs.sh runs this program in a mount
// namespace of its own where /sys/dev/block is an empty tmpfs, so nothing here
// touches the kernel's records or a real disk.
#include "base/utf16_text.h"
#include "device/calculator_holds.h"
#include "device/disk_discovery.h"
#include "harness.h"
#include "session/update_run.h"
#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
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

// calculator_sysfs.sh's function, with the serial handed over byte for byte.
bool sysfs(const std::string& call, const std::string& serial = {}) {
    ::setenv("SERIAL", serial.c_str(), 1);
    return run("bash -c '. " UPDATER_DEVICE_TEST_DATA "/calculator_sysfs.sh && " + call + "'");
}

// A loop device over a file of the test's own; detached when destroyed.
struct LoopDisk {
    std::string file;
    std::string device;
    LoopDisk(const std::string& name, std::uint64_t bytes) : file(workDir() + "/" + name + ".img") {
        run("rm -f '" + file + "' && truncate -s " + std::to_string(bytes) + " '" + file + "'");
        attach();
    }
    ~LoopDisk() { detach(); }
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;

    void attach() {
        FILE* out = ::popen(("losetup -f --show '" + file + "'").c_str(), "r");
        char line[128] = {};
        if (out && std::fgets(line, sizeof line, out))
            device = std::string(line, std::strcspn(line, "\n"));
        if (out)
            ::pclose(out);
    }
    void detach() {
        if (device.empty())
            return;
        sysfs("undress_loop " + device);
        run("losetup -d " + device);
        device.clear();
    }
    // What the kernel says of this device, as the test wants it to read.
    void describe(const std::string& serial, const std::string& port = "",
                  const std::string& vendor = "Orvane", const std::string& model = "Vela update",
                  const std::string& kind = "") {
        CHECK(sysfs("dress_loop " + device + " \"" + vendor + "\" \"" + model +
                        "\" \"$SERIAL\" \"" + port + "\" " + kind,
                    serial),
              device);
    }
    bool untouched() const {
        return run("cmp -s -n $(stat -c %s '" + file + "') '" + file + "' /dev/zero");
    }
    bool holds(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) const {
        return support::readFile(file, offset, bytes.size()) == bytes;
    }
};

// The run of each test, over every calculator present, as the dialog runs it.
UpdateRun theRun;
std::vector<RunFile> files;

void freshRun() {
    files.clear();
    theRun.begin(files, nullptr);
}

std::string firmware(const std::string& name, std::size_t size, unsigned seed) {
    const std::string path = workDir() + "/" + name;
    support::writeFile(path, support::pattern(size, seed));
    return path;
}

// Why the last transfer failed, as the dialog would show it.
std::u16string lastCause;

// A file of the run (added to it the first time).
ResultCode transfer(const std::string& path, std::uint64_t offset = kOffset) {
    const RunFile file{toUtf16(path), toUtf16(path.substr(path.rfind('/') + 1)), offset, 0};
    std::size_t index = 0;
    while (index < files.size() &&
           (files[index].path != file.path || files[index].diskOffset != offset))
        ++index;
    if (index == files.size()) {
        // A file not given to startRun: a run of its own.
        files = {file};
        index = 0;
        theRun.begin(files, nullptr);
    }
    const DeviceResult result = theRun.transfer(index).result;
    lastCause = result.cause;
    return result.code;
}

// A run of these files (path, offset), in this order.
void startRun(const std::vector<std::pair<std::string, std::uint64_t>>& set) {
    files.clear();
    for (const auto& [path, offset] : set)
        files.push_back({toUtf16(path), toUtf16(path.substr(path.rfind('/') + 1)), offset, 0});
    theRun.begin(files, nullptr);
}

ResultCode release() {
    return theRun.finish().result.code;
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
        const char* port;
        const char* vendor;
        const char* model;
        const char* kind;
    };
    const Lookalike lookalikes[] = {
        {"another product whose model begins alike", "", "Orvane", "Vela update 2", ""},
        {"a partition described as the calculator", "", "Orvane", "Vela update", "partition"},
        {"another vendor", "", "Orvan", "Vela update", ""},
        {"the calculator's identity, not on USB", "-", "Orvane", "Vela update", ""},
    };
    freshRun();
    setDeviceLogSink(recordLog);
    LoopDisk a("a", 8 << 20), b("b", 8 << 20);
    a.describe("SERA");
    b.describe("SERB");
    std::vector<std::unique_ptr<LoopDisk>> others;
    for (const Lookalike& l : lookalikes) {
        others.push_back(
            std::make_unique<LoopDisk>("look" + std::to_string(others.size()), 8 << 20));
        others.back()->describe("SERX", l.port, l.vendor, l.model, l.kind);
    }

    CHECK_EQ(findCalculators().size(), std::size_t(2), "found");
    CHECK(logged("not on a USB device"), "the disk off USB is logged");
    CHECK(logged("model \"Vela update 2\""), "the lookalike is logged");

    const std::uint64_t offsets[] = {0, 0x100000, 0x500000};
    const std::size_t sizes[] = {70001, 40000, 3 * 16384};
    std::vector<std::pair<std::string, std::uint64_t>> set;
    for (int i = 0; i < 3; ++i)
        set.emplace_back(firmware("image" + std::to_string(i), sizes[i], 50 + i), offsets[i]);
    startRun(set);
    for (int i = 0; i < 3; ++i)
        CHECK_EQ(transfer(set[i].first, offsets[i]), kResultOk, "file " + std::to_string(i));
    CHECK_EQ(release(), kResultOk, "release");
    for (int i = 0; i < 3; ++i) {
        const auto bytes = support::pattern(sizes[i], 50 + i);
        CHECK(a.holds(offsets[i], bytes), "calculator A, file " + std::to_string(i));
        CHECK(b.holds(offsets[i], bytes), "calculator B, file " + std::to_string(i));
    }
    CHECK(finishSent(a) && finishSent(b), "finish command");
    for (std::size_t i = 0; i < others.size(); ++i)
        CHECK(others[i]->untouched(), lookalikes[i].label);
    setDeviceLogSink(nullptr);
}

// Between the scan and the open, the device at the node found becomes
// another one: the open refuses it.
DEVICE_TEST(deviceChangedBetweenDiscoveryAndOpen) {
    struct Row {
        const char* label;
        const char* serial;    // of the calculator first found
        const char* nowSerial; // what the kernel says once it changed
        const char* nowModel;
        bool reattached; // another medium behind the same device number
        const char* failure;
    };
    const Row rows[] = {
        {"another calculator", "1", "2", "Vela update", false,
         "another calculator has taken its place"},
        {"a lookalike disk", "1", "1", "Vela update 2", false, "not the calculator's update disk"},
        {"no serial: another device behind the same number", "", "", "Vela update", true,
         "another calculator has taken its place"},
    };
    for (const Row& row : rows) {
        freshRun();
        LoopDisk disk("first", 4 << 20);
        disk.describe(row.serial);
        const std::vector<FoundDisk> found = scanUpdateDisks(updateVendorId, updateProductId);
        CHECK_EQ(found.size(), std::size_t(1), row.label);
        if (found.size() != 1)
            continue;
        if (row.reattached) {
            disk.detach();
            disk.attach();
        }
        disk.describe(row.nowSerial, "", "Orvane", row.nowModel);
        const diskio::OpenResult opened =
            diskio::activeDiskSource().openDisk(found[0].path, found[0].check);
        CHECK(!opened.io, row.label);
        CHECK(toUtf8(opened.failureText).find(row.failure) != std::string::npos,
              std::string(row.label) + ": " + toUtf8(opened.failureText));
    }
}

DEVICE_TEST(aCalculatorMissingMidRun) {
    // The run's calculator leaves after the first file and a newcomer
    // arrives: the second file writes nothing to the newcomer and names the
    // missing one. With a serial, the run goes on once it is back. (While the
    // run holds a disk, the kernel gives a newcomer another device number.)
    struct Row {
        const char* label;
        const char* serial;
        const char* newcomerSerial;
        const char* cause;
    };
    const Row rows[] = {
        {"with a serial", "SERA", "SERB", "serial SERA"},
        {"without a serial", "", "", "has no serial number"},
    };
    for (const Row& row : rows) {
        freshRun();
        LoopDisk a("a", 8 << 20), b("b", 8 << 20);
        a.describe(row.serial, "3-1");
        sysfs("undress_loop " + b.device);
        const std::string first = firmware("first", 40000, 61);
        const std::string second = firmware("second", 40000, 62);
        startRun({{first, 0x100000}, {second, 0x500000}});
        CHECK_EQ(transfer(first, 0x100000), kResultOk, row.label);
        sysfs("undress_loop " + a.device);
        b.describe(row.newcomerSerial, "3-1");
        CHECK_EQ(transfer(second, 0x500000), kResultNoDisk, row.label);
        CHECK(toUtf8(lastCause).find(row.cause) != std::string::npos,
              std::string(row.label) + ": " + toUtf8(lastCause));
        CHECK(b.untouched(), std::string(row.label) + ": the newcomer is untouched");
        if (row.serial[0] != 0) {
            sysfs("undress_loop " + b.device);
            a.describe(row.serial, "3-1");
            CHECK_EQ(transfer(second, 0x500000), kResultOk, "back again");
            CHECK(a.holds(0x500000, support::pattern(40000, 62)), "the run went on");
        }
        (void)release();
        CHECK(b.untouched(), std::string(row.label) + ": no finish command for the newcomer");
    }
}

DEVICE_TEST(twoCalculatorsWithoutSerialsAreTwo) {
    freshRun();
    LoopDisk a("a", 4 << 20), b("b", 4 << 20);
    a.describe("", "4-1");
    b.describe("", "4-2");
    const auto bytes = support::pattern(3 * 16384 + 700, 33);
    CHECK_EQ(transfer(firmware("image.bin", bytes.size(), 33)), kResultOk, "both written");
    CHECK(a.holds(kOffset, bytes) && b.holds(kOffset, bytes), "each holds the image");
    CHECK_EQ(release(), kResultOk, "release");
    CHECK(finishSent(a) && finishSent(b), "each got the finish command");
}

// One writer per calculator: the hold of one run keeps another run from the
// disk until the first lets go (across processes, the same lock: see
// loop_cli_test.sh).
DEVICE_TEST(aHeldCalculatorIsNotWritten) {
    freshRun();
    LoopDisk a("a", 4 << 20);
    a.describe("SERA");
    const std::vector<FoundDisk> found = scanUpdateDisks(updateVendorId, updateProductId);
    CHECK_EQ(found.size(), std::size_t(1), "found");
    if (found.empty())
        return;
    CalculatorHolds other;
    CHECK_EQ(claimCalculator(other, found[0].path, found[0].check).code, kResultOk,
             "the other run holds it");
    CHECK_EQ(transfer(firmware("image.bin", 20000, 34)), kResultHeldElsewhere, "refused");
    CHECK(toUtf8(lastCause).find("being updated by another updater") != std::string::npos,
          toUtf8(lastCause));
    CHECK(a.untouched(), "nothing written");
    // Another updater's calculator is not retried by this run; the next run
    // writes it once it is let go.
    other.releaseAll();
    freshRun();
    CHECK_EQ(transfer(firmware("image.bin", 20000, 34)), kResultOk, "written once let go");
}

DEVICE_TEST(seventeenCalculatorsNothingWritten) {
    freshRun();
    std::vector<std::unique_ptr<LoopDisk>> disks;
    for (int i = 0; i < 17; ++i) {
        disks.push_back(std::make_unique<LoopDisk>("many" + std::to_string(i), 2 << 20));
        disks.back()->describe("M" + std::to_string(100 + i));
    }
    CHECK_EQ(findCalculators().size(), std::size_t(17), "count");
    CHECK_EQ(transfer(firmware("small", 20000, 63)), kResultNoDisk, "refused");
    CHECK(toUtf8(lastCause).find("More than 16") != std::string::npos, toUtf8(lastCause));
    CHECK_EQ(release(), kResultNoDisk, "no finish");
    for (const auto& disk : disks)
        CHECK(disk->untouched(), disk->file);
    CHECK(theRun.state().calculators.empty(), "no run begun");
}

DEVICE_TEST(linuxTransferResults) {
    struct Row {
        const char* label;
        const char* serial;  // raw bytes
        std::uint64_t bytes; // of the second loop device; 0: none
        const char* secondSerial;
        ResultCode code;
        const char* failure; // part of lastCause
    };
    const Row rows[] = {
        {"one disk", "1", 0, nullptr, kResultOk, ""},
        {"serials that differ only in invalid UTF-8 are two calculators", "\xff", 4 << 20, "\xfe",
         kResultOk, ""},
        {"a disk too small for the image", "1", 1 << 20, "2", kResultWrite,
         "Write Disk File: No space left on device"},
    };
    for (const Row& row : rows) {
        freshRun();
        LoopDisk one("one", 4 << 20);
        one.describe(row.serial);
        std::unique_ptr<LoopDisk> two;
        if (row.secondSerial) {
            two = std::make_unique<LoopDisk>("two", row.bytes);
            two->describe(row.secondSerial);
        }
        const auto bytes = support::pattern(3 * 16384 + 700, 31);
        CHECK_EQ(transfer(firmware("image.bin", bytes.size(), 31)), row.code, row.label);
        CHECK(toUtf8(lastCause).find(row.failure) != std::string::npos,
              std::string(row.label) + ": " + toUtf8(lastCause));
        CHECK(one.holds(kOffset, bytes), row.label);
        if (two && row.code == kResultOk)
            CHECK(two->holds(kOffset, bytes), row.label);
    }
    freshRun();
    CHECK_EQ(transfer(firmware("image.bin", 100, 31)), kResultNoDisk, "no update disk");
    CHECK(toUtf8(lastCause).find("No update disk") != std::string::npos, "no disk text");
}
