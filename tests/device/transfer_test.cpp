// Writing one file onto a set of calculators, and the finish command, through
// the device layer's face, against the virtual calculator.
#include "base/utf16_text.h"
#include "device/calculator_holds.h"
#include "device/calculators.h"
#include "device/disk_discovery.h"
#include "device/disk_testing.h"
#include "harness.h"
#include "support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <new>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {
// Memory for disk I/O refused while set (code 110).
std::atomic<bool> refuseIoMemory{false};
} // namespace

// AlignedBuffer takes its memory through this form of operator new, which a
// program may replace: the test refuses it on demand and otherwise hands the
// request to the library's form, whose delete frees it.
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    if (refuseIoMemory.load())
        return nullptr;
    try {
        return ::operator new(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

constexpr std::uint64_t kOffset = 0x100000;

// Why the last transfer failed, as the dialog would show it.
std::u16string lastCause;

TransferObserver recorded() {
    TransferObserver observer;
    observer.progress = [](const DiskIdentity&, int percent) { support::onProgress(percent); };
    observer.message = [](const DiskIdentity&, const std::u16string& text) {
        support::onMessage(text.c_str());
    };
    return observer;
}

// One file onto every calculator present.
ResultCode transfer(const std::string& path, std::uint64_t offset = kOffset,
                    const CalculatorSet& set = {}) {
    const DeviceResult result =
        writeFile(set, {support::wide(path), u"image.bin", offset}, recorded());
    lastCause = result.cause;
    return result.code;
}

ResultCode finishAll(const CalculatorSet& set = {}) {
    return sendFinishCommand(set).code;
}

CalculatorSet only(std::vector<DiskIdentity> members) {
    CalculatorSet set;
    set.everyPresent = false;
    set.members = std::move(members);
    return set;
}

std::string firmware(const std::string& name, std::size_t size, unsigned seed) {
    const std::string path = support::tempDir("transfer") + "/" + name;
    support::writeFile(path, support::pattern(size, seed));
    return path;
}

// The operations of one section of file_traces.txt, comments dropped.
std::vector<std::string> goldenTrace(const std::string& label) {
    std::ifstream in(UPDATER_DEVICE_TEST_DATA "/file_traces.txt");
    std::vector<std::string> lines;
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("== ", 0) == 0) {
            inSection = line.rfind("== " + label + " (", 0) == 0;
            continue;
        }
        line = line.substr(0, line.find('#'));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        if (inSection && !line.empty())
            lines.push_back(line);
    }
    return lines;
}

bool unitHolds(int unit, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    return virtual_calculator::readUnit(unit, offset, bytes.size()) == bytes;
}

std::string shrinkTarget;
void shrinkFile(int) {
    // The file loses its second half after its size was taken.
    const auto bytes = support::readFile(shrinkTarget, 0, 1 << 20);
    support::writeFile(shrinkTarget,
                       std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
}

} // namespace

DEVICE_TEST(perFileTraceAndProgress) {
    struct Row {
        const char* label;
        std::size_t size;
        std::vector<int> progress;
    };
    const std::vector<Row> rows = {
        {"empty file", 0, {0, 100}},
        {"one full chunk", 16384, {0, 100}},
        {"one byte more than a chunk", 16385, {0, 99, 100}},
        {"ten chunks", 10 * 16384, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {"three chunks", 3 * 16384, {0, 33, 66, 100}},
        {"a short last chunk padded to whole sectors", 16384 + 1000, {0, 94, 100}},
        {"less than a sector", 100, {0, 100}},
        // 200 chunks: a percentage may repeat and is then not sent again.
        {"two hundred chunks", 200 * 16384, {}},
    };
    for (const Row& row : rows) {
        support::freshCalculator();
        const auto bytes = support::pattern(row.size, 7);
        const std::string path = firmware("trace.bin", row.size, 7);
        CHECK_EQ(transfer(path), kResultOk, row.label);
        if (row.size < 200 * 16384) {
            const std::vector<std::string> golden = goldenTrace(row.label);
            CHECK(!golden.empty(), row.label);
            CHECK_LINES(support::traceText(0), golden, row.label);
            CHECK(support::progressSeen() == row.progress, row.label);
        } else {
            const std::vector<int> seen = support::progressSeen();
            CHECK_EQ(seen.size(), std::size_t(101), row.label); // 0, 1..99, 100
            for (std::size_t i = 1; i < seen.size(); ++i)
                CHECK(seen[i] > seen[i - 1], row.label);
        }
        CHECK(unitHolds(0, kOffset, bytes), row.label);
        // The padding of a short last chunk is zeros up to the sector's end.
        const std::size_t padded = (row.size + 511) / 512 * 512;
        const auto tail = virtual_calculator::readUnit(0, kOffset + row.size, padded - row.size);
        CHECK(tail == std::vector<std::uint8_t>(padded - row.size, 0), row.label);
        CHECK_EQ(virtual_calculator::writtenExtent(0), row.size ? kOffset + padded : 0, row.label);
        CHECK_LINES(support::messagesSeen(), std::vector<std::string>{path}, row.label);
    }
}

DEVICE_TEST(resultCodes) {
    struct Row {
        const char* label;
        ResultCode code;
        std::size_t dataWrites; // data writes the unit saw, failed ones included
        bool flushed;
        int progressCalls;
        int messages;
    };
    const Row rows[] = {
        {"104 no update disk", kResultNoDisk, 0, false, 0, 0},
        {"105 file missing", kResultFileOpen, 0, false, 0, 0},
        {"107 disk cannot be opened", kResultDiskOpen, 0, false, 0, 1},
        {"110 no buffer", kResultNoBuffer, 0, false, 0, 0},
        {"109 file shrank", kResultFileRead, 0, true, 2, 1},
        {"112 writes refused", kResultWrite, 7, true, 2, 1},
        {"113 path too long", kResultPathTooLong, 0, false, 0, 0},
    };
    for (const Row& row : rows) {
#ifdef _WIN32
        // The transfer shares the file with readers only, so nothing can
        // shrink it there while it is read.
        if (row.code == kResultFileRead)
            continue;
#endif
        virtual_calculator::Options options;
        std::string path = firmware("codes.bin", 3 * 16384, 3);
        if (row.code == kResultNoDisk)
            options.absent = true;
        if (row.code == kResultDiskOpen)
            options.unopenableUnit = 0;
        if (row.code == kResultWrite)
            options.refuseWriteAt = static_cast<std::int64_t>(kOffset + 16384);
        support::freshCalculator(options);
        if (row.code == kResultFileOpen)
            path += ".missing";
        if (row.code == kResultFileRead) {
            shrinkTarget = path;
            support::setProgressHook(shrinkFile);
        }
        if (row.code == kResultPathTooLong)
            path = support::tempDir("transfer") + "/" + std::string(260, 'p');
        refuseIoMemory.store(row.code == kResultNoBuffer);
        CHECK_EQ(transfer(path), row.code, row.label);
        refuseIoMemory.store(false);
        CHECK(!lastCause.empty(), row.label);

        std::size_t dataWrites = 0;
        bool flushed = false;
        for (const auto& entry : virtual_calculator::trace(0)) {
            if (entry.op == virtual_calculator::Op::Write && entry.command.empty() &&
                entry.pos >= kOffset + 16384)
                ++dataWrites;
            flushed = flushed || entry.op == virtual_calculator::Op::Flush;
        }
        CHECK_EQ(dataWrites, row.dataWrites, row.label);
        CHECK_EQ(flushed, row.flushed, row.label);
        CHECK_EQ(support::progressSeen().size(), std::size_t(row.progressCalls), row.label);
        CHECK_EQ(support::messagesSeen().size(), std::size_t(row.messages), row.label);
    }
}

namespace {

// Threads as the system may fail them: the second job's thread never starts,
// or its exit code cannot be read after it ran.
std::vector<diskio::ThreadOutcome> secondNotStarted(const std::vector<std::function<int()>>& jobs) {
    std::vector<diskio::ThreadOutcome> outcomes;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        outcomes.push_back(i == 1 ? diskio::ThreadOutcome{}
                                  : diskio::ThreadOutcome{true, true, jobs[i]()});
    return outcomes;
}

std::vector<diskio::ThreadOutcome> secondCodeUnread(const std::vector<std::function<int()>>& jobs) {
    std::vector<diskio::ThreadOutcome> outcomes;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const int code = jobs[i]();
        outcomes.push_back({true, i != 1, code});
    }
    return outcomes;
}

} // namespace

// A calculator whose thread did not run, or whose end is unknown, has nothing
// to show that the file arrived: 114, and the others are written.
DEVICE_TEST(threadsThatFail) {
    struct Row {
        const char* label;
        diskio::testing::ThreadRunner runner;
        const char* cause;
        bool secondWritten;
    };
    const Row rows[] = {
        {"a thread not started", secondNotStarted, "No transfer thread could be started", false},
        {"an exit code not read", secondCodeUnread, "exit code cannot be read", true},
    };
    for (const Row& row : rows) {
        support::freshCalculator(2);
        const auto bytes = support::pattern(40000, 8);
        const std::string path = firmware("threads.bin", bytes.size(), 8);
        diskio::testing::setThreadRunner(row.runner);
        const ResultCode code = transfer(path);
        diskio::testing::setThreadRunner(nullptr);
        CHECK_EQ(code, kResultNoThread, row.label);
        CHECK(toUtf8(lastCause).find(row.cause) != std::string::npos, toUtf8(lastCause));
        CHECK(toUtf8(lastCause).find("serial 00000001") == 0, toUtf8(lastCause));
        CHECK(unitHolds(0, kOffset, bytes), row.label);
        CHECK_EQ(unitHolds(1, kOffset, bytes), row.secondWritten, row.label);
    }
}

DEVICE_TEST(sevenAttemptsAtTheSamePosition) {
    virtual_calculator::Options options;
    options.refuseWriteAt = static_cast<std::int64_t>(kOffset);
    support::freshCalculator(options);
    CHECK_EQ(transfer(firmware("refused.bin", 16384, 1)), kResultWrite, "result");
    std::vector<std::string> expected = {"R 87040 15360", "W 87040 512 PROGRESS 0", "R 87040 512"};
    for (int i = 0; i < 7; ++i)
        expected.push_back("W 1048576 16384 FAILED");
    expected.push_back("F 0 0");
    CHECK_LINES(support::traceText(0), expected, "trace");
    // The line that names the file keeps naming it; the system's text goes
    // with the result.
    CHECK_EQ(support::messagesSeen().size(), std::size_t(1), "the file's name alone");
    // Each level adds what it knows: the calculator, the file and where.
    CHECK(toUtf8(lastCause).find("serial 00000000: image.bin at 0x100000: Write Disk File: ") == 0,
          toUtf8(lastCause));
}

DEVICE_TEST(twoDisksInParallel) {
    support::freshCalculator(2);
    const std::size_t size = 10 * 16384;
    const auto bytes = support::pattern(size, 11);
    CHECK_EQ(transfer(firmware("two.bin", size, 11)), kResultOk, "result");
    const auto expected = goldenTrace("ten chunks");
    for (int unit = 0; unit < 2; ++unit) {
        CHECK(unitHolds(unit, kOffset, bytes), "unit " + std::to_string(unit));
        CHECK_LINES(support::traceText(unit), expected, "unit " + std::to_string(unit));
    }
    CHECK_EQ(support::progressSeen().size(), std::size_t(22), "two interleaved sequences");
    CHECK_EQ(support::messagesSeen().size(), std::size_t(2), "two messages at the start");
}

DEVICE_TEST(twoDisksOneUnopenable) {
    virtual_calculator::Options options;
    options.units = 2;
    options.unopenableUnit = 0;
    support::freshCalculator(options);
    const auto bytes = support::pattern(40000, 5);
    CHECK_EQ(transfer(firmware("one.bin", 40000, 5)), kResultDiskOpen, "result");
    CHECK(unitHolds(1, kOffset, bytes), "the other disk holds the file");
    CHECK(virtual_calculator::trace(0).empty(), "nothing touched the unopenable disk");
    CHECK(toUtf8(lastCause).find("denied") != std::string::npos, "failure text");
}

DEVICE_TEST(vanishAndComeBack) {
    // Unplugged after two chunks: the rest of the writes fail, and the
    // transfer says that it left (not the write error its leaving caused);
    // the next transfer finds it again and succeeds.
    virtual_calculator::Options options;
    options.vanishAfterWrites = 2;
    options.vanishMs = 0;
    support::freshCalculator(options);
    const auto bytes = support::pattern(5 * 16384, 9);
    const std::string path = firmware("vanish.bin", bytes.size(), 9);
    CHECK_EQ(transfer(path), kResultNoDisk, "first transfer");
    CHECK(toUtf8(lastCause).find("is not connected") != std::string::npos, toUtf8(lastCause));
    CHECK_EQ(transfer(path), kResultOk, "second transfer");
    CHECK(unitHolds(0, kOffset, bytes), "second transfer wrote the file");
}

DEVICE_TEST(releaseSendsFinish) {
    support::freshCalculator(2);
    CHECK_EQ(finishAll(), kResultOk, "result");
    for (int unit = 0; unit < 2; ++unit) {
        CHECK_LINES(support::traceText(unit),
                    (std::vector<std::string>{"R 87040 15360", "W 87040 512 FINISH"}), "trace");
        CHECK_EQ(virtual_calculator::finishCount(unit), 1, "finish count");
    }
    virtual_calculator::setAbsent(true);
    CHECK_EQ(finishAll(), kResultNoDisk, "absent");
}

// The dialog must not call an update finished on a calculator that did not
// take the finish command: the result names each one that did not.
DEVICE_TEST(finishCommandResultPerCalculator) {
    struct Row {
        const char* name;
        int unopenable;    // unit whose open fails, or -1
        bool refuseFinish; // every write of the control sector fails
        ResultCode code;
        std::vector<int> unfinished;
    };
    const Row rows[] = {
        {"all finished", -1, false, kResultOk, {}},
        {"unit 1 cannot be opened", 1, false, kResultDiskOpen, {1}},
        {"finish write refused", -1, true, kResultWrite, {0, 1, 2}},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = 3;
        options.unopenableUnit = row.unopenable;
        support::freshCalculator(options);
        if (row.refuseFinish)
            virtual_calculator::refuseWritesAt(87040);
        const DeviceResult result = sendFinishCommand({});
        CHECK_EQ(result.code, row.code, row.name);
        std::vector<std::u16string> unfinished, expected;
        for (const CalculatorOutcome& outcome : result.calculators) {
            if (outcome.code != kResultOk)
                unfinished.push_back(describeDisk(outcome.identity));
        }
        for (int unit : row.unfinished)
            expected.push_back(describeDisk(support::unitIdentity(unit)));
        std::sort(unfinished.begin(), unfinished.end());
        CHECK(unfinished == expected, row.name);
    }
}

DEVICE_TEST(imagesAtTheirOffsetsAndFilesLeft) {
    // Three images, the first covering the control sector: data written there
    // is data, and commands do not disturb it.
    const std::string dir = support::tempDir("vcfiles");
    std::remove((dir + "/unit0.img").c_str());
    virtual_calculator::Options options;
    options.dir = dir;
    support::freshCalculator(options);
    struct Image {
        std::uint64_t offset;
        std::size_t size;
    };
    const Image images[] = {{0, 200000}, {0x100000, 70001}, {0x500000, 16384 * 3}};
    unsigned seed = 20;
    for (const Image& image : images) {
        const std::string path =
            firmware("image" + std::to_string(seed) + ".bin", image.size, seed);
        CHECK_EQ(transfer(path, image.offset), kResultOk, "transfer");
        ++seed;
    }
    CHECK_EQ(finishAll(), kResultOk, "release");
    seed = 20;
    for (const Image& image : images) {
        const auto bytes = support::pattern(image.size, seed++);
        CHECK(unitHolds(0, image.offset, bytes), "in memory");
        CHECK(support::readFile(dir + "/unit0.img", image.offset, image.size) == bytes,
              "in unit0.img");
    }
    const auto trace = support::readFile(dir + "/unit0.trace", 0, 1 << 20);
    const std::string text(trace.begin(), trace.end());
    CHECK(text.find("W 87040 512 FINISH\n") != std::string::npos, "trace file has the finish");
    CHECK(text.find("W 0 16384\n") != std::string::npos, "trace file has data");
    virtual_calculator::uninstall();
}

DEVICE_TEST(virtualCalculatorOptions) {
    struct Row {
        const char* text;
        bool ok;
        int units;
        int appearMs;
        std::string dir;
    };
    const Row rows[] = {
        {"1", true, 1, 0, ""},
        {"units=2,appear_ms=3000,dir=/tmp/vc", true, 2, 3000, "/tmp/vc"},
        {"absent=1", true, 1, 0, ""},
        {"units=0", false, 0, 0, ""},
        {"units=x", false, 0, 0, ""},
        {"colour=blue", false, 0, 0, ""},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        std::string error;
        CHECK_EQ(virtual_calculator::parseOptions(row.text, options, error), row.ok, row.text);
        if (!row.ok) {
            CHECK(!error.empty(), row.text);
            continue;
        }
        CHECK_EQ(options.units, row.units, row.text);
        CHECK_EQ(options.appearMs, row.appearMs, row.text);
        CHECK_EQ(options.dir, row.dir, row.text);
    }
    virtual_calculator::Options slow;
    std::string error;
    CHECK(virtual_calculator::parseOptions("slow_ms=40", slow, error), "slow_ms");
    CHECK_EQ(slow.slowMs, 40, "slow_ms");
}

namespace {
std::string growTarget;
void growFile(int percent) {
    // Still being copied: more bytes arrive after the transfer opened it.
    if (percent == 0) {
        if (std::FILE* out = std::fopen(growTarget.c_str(), "ab")) {
            std::fputs("more", out);
            std::fclose(out);
        }
    }
}
} // namespace

DEVICE_TEST(firmwareThatCannotBeTrusted) {
    struct Row {
        const char* label;
        std::string path;
        ResultCode code;
        bool grows;
        std::size_t written; // bytes of data on the unit afterwards
    };
    const std::string dir = support::tempDir("untrusted");
    std::vector<Row> rows = {
        {"an empty image", firmware("empty.bin", 0, 1), kResultOk, false, 0},
        {"a directory", dir, kResultFileOpen, false, 0},
    };
#ifndef _WIN32
    // The transfer shares the file with readers only on Windows, so nothing
    // can add to it there while it is read.
    rows.push_back({"an image that grows while it is written", firmware("grows.bin", 3 * 16384, 2),
                    kResultFileRead, true, 3 * 16384});
    rows.push_back({"a device", "/dev/zero", kResultFileOpen, false, 0});
    const std::string fifo = dir + "/fifo";
    std::remove(fifo.c_str());
    CHECK(::mkfifo(fifo.c_str(), 0600) == 0, "fifo");
    rows.push_back({"a FIFO, which would never end", fifo, kResultFileOpen, false, 0});
#endif
    for (const Row& row : rows) {
        support::freshCalculator();
        if (row.grows) {
            growTarget = row.path;
            support::setProgressHook(growFile);
        }
        CHECK_EQ(transfer(row.path), row.code, row.label);
        CHECK_EQ(virtual_calculator::writtenExtent(0), row.written ? kOffset + row.written : 0,
                 row.label);
        if (row.code != kResultOk)
            CHECK(!lastCause.empty(), row.label);
    }
}

DEVICE_TEST(namedCalculatorsEachGetAResult) {
    virtual_calculator::Options options;
    options.units = 3;
    options.unopenableUnit = 2;
    support::freshCalculator(options);
    const std::u16string path = support::wide(firmware("named.bin", 20000, 72));
    const DiskIdentity unit1 = support::unitIdentity(1);
    const DiskIdentity unit2 = support::unitIdentity(2);
    const DiskIdentity absent = support::unitIdentity(9);
    const DeviceResult report =
        writeFile(only({unit1, unit2}), {path, u"named.bin", kOffset}, recorded());
    CHECK_EQ(report.code, kResultDiskOpen, "first failure");
    CHECK(report.calculators.size() == 2 && report.calculators[0].identity == unit1 &&
              report.calculators[0].code == kResultOk && report.calculators[1].identity == unit2 &&
              report.calculators[1].code == kResultDiskOpen && !report.calculators[1].cause.empty(),
          "one result per named calculator");
    CHECK(report.leftAlone.size() == 1 && report.leftAlone[0].serial == u"00000000",
          "unit 0 left alone");
    CHECK(virtual_calculator::trace(0).empty(), "unit 0 untouched");
    const DeviceResult missing = sendFinishCommand(only({unit1, absent}));
    CHECK(missing.calculators.size() == 2 && missing.calculators[0].code == kResultOk &&
              missing.calculators[1].code == kResultNoDisk && missing.code == kResultNoDisk,
          "release: a result per calculator");
    CHECK_EQ(virtual_calculator::finishCount(1), 1, "finish for unit 1");
    CHECK_EQ(virtual_calculator::finishCount(0), 0, "none for unit 0");
}

DEVICE_TEST(sessionsToDifferentCalculatorsDoNotWaitForEachOther) {
    support::freshCalculator(2);
    const DiskIdentity slow = support::unitIdentity(0);
    const DiskIdentity quick = support::unitIdentity(1);
    const std::u16string path = support::wide(firmware("sessions.bin", 3 * 16384, 5));
    const auto bytes = support::pattern(3 * 16384, 5);

    // The slow session stops at its first report until the quick one has
    // ended: were the two to share a lock, the quick one could not end first.
    std::promise<void> slowHolding;
    std::promise<void> quickEnded;
    std::shared_future<void> quickEndedSeen = quickEnded.get_future().share();
    bool quickEndedWhileSlowHeld = false;
    bool held = false;
    std::vector<std::pair<std::u16string, int>> slowReports;
    TransferObserver slowObserver;
    slowObserver.progress = [&](const DiskIdentity& disk, int percent) {
        slowReports.emplace_back(disk.serial, percent);
        if (held)
            return;
        held = true;
        slowHolding.set_value();
        quickEndedWhileSlowHeld =
            quickEndedSeen.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    };
    // Each a session of its own: its own table; only its calculator counts.
    CalculatorSet slowSet = only({slow}), quickSet = only({quick});
    slowSet.strangersCount = quickSet.strangersCount = false;
    const auto slowTable = newDiskTable(), quickTable = newDiskTable();
    slowSet.table = slowTable.get();
    quickSet.table = quickTable.get();
    DeviceResult slowReport;
    std::thread slowSession([&] {
        slowReport = writeFile(slowSet, {path, u"sessions.bin", kOffset}, slowObserver);
    });
    CHECK(slowHolding.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready,
          "the slow session reached its first report");

    std::mutex quickLock;
    std::vector<std::pair<std::u16string, int>> quickReports;
    std::vector<std::u16string> quickMessages;
    TransferObserver quickObserver;
    quickObserver.progress = [&](const DiskIdentity& disk, int percent) {
        std::lock_guard<std::mutex> hold(quickLock);
        quickReports.emplace_back(disk.serial, percent);
    };
    quickObserver.message = [&](const DiskIdentity& disk, const std::u16string&) {
        std::lock_guard<std::mutex> hold(quickLock);
        quickMessages.push_back(disk.serial);
    };
    const DeviceResult quickReport =
        writeFile(quickSet, {path, u"sessions.bin", kOffset}, quickObserver);
    const DeviceResult quickRelease = sendFinishCommand(quickSet);
    quickEnded.set_value();
    slowSession.join();

    CHECK(quickEndedWhileSlowHeld, "the quick session ended while the slow one was held");
    CHECK_EQ(quickReport.code, kResultOk, "quick result");
    CHECK_EQ(quickRelease.code, kResultOk, "quick finish");
    CHECK_EQ(slowReport.code, kResultOk, "slow result");
    CHECK(quickReport.leftAlone.size() == 1 && quickReport.leftAlone[0] == slow,
          "the other session's calculator is left alone");
    const std::vector<std::pair<std::u16string, int>> expectedQuick = {
        {quick.serial, 0}, {quick.serial, 33}, {quick.serial, 66}, {quick.serial, 100}};
    CHECK(quickReports == expectedQuick, "each report names its calculator");
    CHECK(quickMessages == std::vector<std::u16string>{quick.serial}, "the message names it too");
    CHECK(slowReports.size() == 4 && slowReports.front().first == slow.serial,
          "the slow session's reports name its own calculator");
    CHECK(unitHolds(0, kOffset, bytes) && unitHolds(1, kOffset, bytes), "both images whole");
    CHECK_EQ(virtual_calculator::finishCount(1), 1, "the quick one finished");
    CHECK_EQ(virtual_calculator::finishCount(0), 0, "the slow one not yet");
}

DEVICE_TEST(aStopEndsTheTransferBetweenChunks) {
    struct Row {
        const char* label;
        int stopAtPercent; // -1: before the transfer starts
        std::size_t dataWrites;
    };
    const Row rows[] = {
        {"stopped before the first chunk", -1, 0},
        {"stopped after the first chunk", 10, 1},
        {"stopped after the fifth chunk", 50, 5},
    };
    for (const Row& row : rows) {
        support::freshCalculator();
        const std::u16string path = support::wide(firmware("stop.bin", 10 * 16384, 9));
        std::atomic<bool> stop{row.stopAtPercent < 0};
        TransferObserver observer;
        observer.stop = &stop;
        observer.progress = [&](const DiskIdentity&, int percent) {
            if (percent == row.stopAtPercent)
                stop.store(true);
        };
        const DeviceResult report = writeFile({}, {path, u"stop.bin", kOffset}, observer);
        CHECK_EQ(report.code, kResultStopped, row.label);
        std::size_t dataWrites = 0;
        bool flushed = false;
        for (const auto& entry : virtual_calculator::trace(0)) {
            dataWrites += entry.op == virtual_calculator::Op::Write && entry.command.empty();
            flushed = flushed || entry.op == virtual_calculator::Op::Flush;
        }
        CHECK_EQ(dataWrites, row.dataWrites, row.label);
        CHECK(flushed, row.label);
    }
}

DEVICE_TEST(aCalculatorHeldByAnotherRun) {
    support::freshCalculator(1);
    const std::vector<FoundDisk> found = scanUpdateDisks(updateVendorId, updateProductId);
    CHECK_EQ(found.size(), std::size_t(1), "found");
    if (found.empty())
        return;
    CalculatorHolds other;
    CHECK_EQ(claimCalculator(other, found[0].path, found[0].check).code, kResultOk,
             "held by the other run");
    const std::string path = firmware("held.bin", 20000, 74);
    CHECK_EQ(transfer(path), kResultHeldElsewhere, "transfer refused");
    CHECK(toUtf8(lastCause).find("serial 00000000 is being updated by another updater") !=
              std::string::npos,
          toUtf8(lastCause));
    CHECK_EQ(finishAll(), kResultHeldElsewhere, "release");
    CHECK(virtual_calculator::trace(0).empty(), "neither data nor the finish command");
    other.releaseAll();
    CHECK_EQ(transfer(path), kResultOk, "written once let go");
}
