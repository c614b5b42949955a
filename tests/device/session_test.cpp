// The update engine: the rule after each file, a run over one calculator from
// start to end, and a run in lockstep over every calculator present, step by
// step as the dialog drives it.
#include "base/utf16_text.h"
#include "harness.h"
#include "session/update_run.h"
#include "support.h"

#include <mutex>

namespace {

// The events of a run as text, in order: "file A", "done A 0", "retry 112 1", "finish 0".
class Recorder : public RunObserver {
public:
    void fileStarted(const DiskIdentity&, const RunFile& file) override {
        add("file " + toUtf8(file.name));
    }
    void progress(const DiskIdentity& disk, int) override {
        std::lock_guard<std::mutex> hold(lock_);
        if (disk.serial != expected)
            strangers += 1;
    }
    void fileEnded(const DiskIdentity&, const RunFile& file, ResultCode code,
                   const std::u16string&) override {
        add("done " + toUtf8(file.name) + " " + std::to_string(code));
    }
    void retrying(const DiskIdentity&, ResultCode code, int attempt) override {
        add("retry " + std::to_string(code) + " " + std::to_string(attempt));
    }
    void finished(const DiskIdentity&, ResultCode code, const std::u16string&) override {
        add("finish " + std::to_string(code));
    }

    std::vector<std::string> events;
    std::u16string expected;
    int strangers = 0; // progress reports that named another calculator

private:
    void add(const std::string& event) {
        std::lock_guard<std::mutex> hold(lock_);
        events.push_back(event);
    }
    std::mutex lock_;
};

std::vector<RunFile> threeFiles() {
    const std::string dir = support::tempDir("session");
    const struct {
        const char* name;
        std::uint64_t offset;
        std::size_t size;
    } images[] = {{"OS", 0, 40000}, {"MAIN", 0x100000, 20000}, {"APP", 0x500000, 3 * 16384}};
    std::vector<RunFile> files;
    unsigned seed = 20;
    for (const auto& image : images) {
        const std::string path = dir + "/" + image.name;
        support::writeFile(path, support::pattern(image.size, ++seed));
        files.push_back({support::wide(path), support::wide(image.name), image.offset, image.size});
    }
    return files;
}

} // namespace

DEVICE_TEST(sequenceRuleAfterEachResult) {
    struct Row {
        const char* label;
        ResultCode code;
        SequencePosition now;
        int files;
        NextStep step;
        SequencePosition next;
    };
    const Row rows[] = {
        {"first file written", 0, {0, 0}, 3, NextStep::NextFile, {1, 0}},
        {"written after failures: the count starts again",
         0,
         {1, 4},
         3,
         NextStep::NextFile,
         {2, 0}},
        {"last file written", 0, {2, 3}, 3, NextStep::Done, {2, 3}},
        {"first failure", 112, {1, 0}, 3, NextStep::Retry, {1, 1}},
        {"fifth failure: the sixth attempt follows", 104, {0, 4}, 3, NextStep::Retry, {0, 5}},
        {"sixth failure ends the update", 107, {2, 5}, 3, NextStep::Failed, {2, 6}},
        {"another updater's calculator: no retry", 116, {1, 0}, 3, NextStep::Failed, {1, 1}},
    };
    for (const Row& row : rows) {
        const SequenceDecision decision = afterFileResult(row.code, row.now, row.files);
        CHECK(decision.step == row.step, row.label);
        CHECK_EQ(decision.next.index, row.next.index, row.label);
        CHECK_EQ(decision.next.failures, row.next.failures, row.label);
    }
}

DEVICE_TEST(aRunFromStartToEnd) {
    struct Row {
        const char* label;
        std::int64_t refuseAt; // writes starting here fail
        bool stopAtOnce;
        ResultCode result;
        int filesWritten;
        int finishes;
        std::vector<std::string> events;
    };
    const std::vector<Row> rows = {
        {"every file, then the finish command",
         -1,
         false,
         kResultOk,
         3,
         1,
         {"file OS", "done OS 0", "file MAIN", "done MAIN 0", "file APP", "done APP 0",
          "finish 0"}},
        {"six attempts of a refused file, then the finish command all the same",
         0x100000,
         false,
         kResultWrite,
         1,
         1,
         {"file OS",       "done OS 0",     "file MAIN",     "done MAIN 112", "retry 112 1",
          "file MAIN",     "done MAIN 112", "retry 112 2",   "file MAIN",     "done MAIN 112",
          "retry 112 3",   "file MAIN",     "done MAIN 112", "retry 112 4",   "file MAIN",
          "done MAIN 112", "retry 112 5",   "file MAIN",     "done MAIN 112", "finish 0"}},
        {"stopped: left incomplete, no finish command", -1, true, kResultStopped, 0, 0, {}},
        // Another updater's calculator is not retried: nothing is written.
        {"held by another updater",
         -2,
         false,
         kResultHeldElsewhere,
         0,
         0,
         {"file OS", "done OS 116", "finish 116"}},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = 2;
        options.refuseWriteAt = row.refuseAt < 0 ? -1 : row.refuseAt;
        support::freshCalculator(options);
        const DiskIdentity unit1 = support::unitIdentity(1);
        std::atomic<bool> stop{row.stopAtOnce};
        Recorder recorder;
        recorder.expected = unit1.serial;
        CalculatorHolds other;
        if (row.refuseAt == -2) {
            const std::vector<FoundCalculator> found = findCalculators();
            diskio::DiskCheck check{true, found.at(1).identity, {}};
            CHECK_EQ(other.claim(found.at(1).path, check).code, kResultOk, "held by another");
        }
        UpdateRun run;
        run.begin(threeFiles(), unit1);
        const RunSummary result = run.run(recorder, &stop);
        CHECK_EQ(result.result, row.result, row.label);
        CHECK_EQ(result.filesWritten, row.filesWritten, row.label);
        CHECK_EQ(result.finishSent, row.finishes == 1, row.label);
        CHECK_LINES(recorder.events, row.events, row.label);
        CHECK_EQ(recorder.strangers, 0, row.label);
        CHECK_EQ(virtual_calculator::finishCount(1), row.finishes, row.label);
        CHECK(virtual_calculator::trace(0).empty(), "the other calculator is left alone");
        if (row.result == kResultOk) {
            for (const RunFile& file : threeFiles())
                CHECK(virtual_calculator::readUnit(1, file.diskOffset, file.size) ==
                          support::readFile(toUtf8(file.path), 0, file.size),
                      row.label);
        }
    }
}

// The dialog's run, a step at a time: every calculator present at its first
// write, and those alone until the finish command.
DEVICE_TEST(aRunInLockstep) {
    virtual_calculator::Options options;
    options.units = 2;
    support::freshCalculator(options);
    virtual_calculator::setPluggedIn(1, false);
    const std::vector<RunFile> files = threeFiles();
    UpdateRun run;
    run.begin(files);
    CHECK_EQ(run.transfer(0, {}).code, kResultOk, "first file, unit 0 alone");
    // Unit 1 plugged in: not of this run.
    virtual_calculator::setPluggedIn(1, true);
    CHECK(run.afterFile(kResultOk).step == NextStep::NextFile, "next file");
    CHECK_EQ(run.transfer(1, {}).code, kResultOk, "second file");
    const auto leftAlone = run.leftAlone();
    CHECK(leftAlone.size() == 1 && leftAlone[0].serial == u"00000001", "unit 1 left alone");
    // Unit 0 unplugged: the next file fails, writing unit 1 nothing.
    virtual_calculator::setPluggedIn(0, false);
    CHECK(run.afterFile(kResultOk).step == NextStep::NextFile, "next file");
    CHECK_EQ(run.transfer(2, {}).code, kResultNoDisk, "a member missing");
    CHECK(toUtf8(run.lastResult().cause).find("00000000") != std::string::npos,
          "names the missing one");
    CHECK(run.afterFile(kResultNoDisk).step == NextStep::Retry, "tried again");
    virtual_calculator::setPluggedIn(0, true);
    CHECK_EQ(run.transfer(2, {}).code, kResultOk, "member back");
    CHECK(run.afterFile(kResultOk).step == NextStep::Done, "done");
    const std::vector<CalculatorState> states = run.calculators();
    CHECK(states.size() == 1 && states[0].filesHeld == 3, "unit 0 holds the set");
    CHECK_EQ(run.finish().code, kResultOk, "finish");
    CHECK(virtual_calculator::trace(1).empty(), "unit 1 never touched");
    CHECK_EQ(virtual_calculator::finishCount(1), 0, "no finish for unit 1");
    // A new run takes every calculator present.
    run.begin(files);
    CHECK_EQ(run.transfer(0, {}).code, kResultOk, "new run");
    CHECK_EQ(run.calculators().size(), std::size_t(2), "both in the new run");
}

// A member missing while another is present: nothing is written to either.
// Without a serial, a calculator back at its place is another calculator.
DEVICE_TEST(aMemberMissingWritesNobody) {
    struct Row {
        const char* label;
        bool noSerial;
        const char* cause;
    };
    const Row rows[] = {
        {"with a serial: unplugged, the other present", false, "00000001"},
        {"without a serial: unplugged and plugged in again", true, "has no serial number"},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = 2;
        options.noSerial = row.noSerial;
        support::freshCalculator(options);
        UpdateRun run;
        run.begin(threeFiles());
        CHECK_EQ(run.transfer(0, {}).code, kResultOk, row.label);
        const std::uint64_t extent = virtual_calculator::writtenExtent(0);
        virtual_calculator::setPluggedIn(1, false);
        if (row.noSerial)
            virtual_calculator::setPluggedIn(1, true);
        (void)run.afterFile(kResultOk);
        CHECK_EQ(run.transfer(1, {}).code, kResultNoDisk, row.label);
        CHECK(toUtf8(run.lastResult().cause).find(row.cause) != std::string::npos,
              toUtf8(run.lastResult().cause));
        for (int unit = 0; unit < 2; ++unit)
            CHECK_EQ(virtual_calculator::writtenExtent(unit), extent,
                     std::string(row.label) + ": nothing written to unit " + std::to_string(unit));
        if (row.noSerial) {
            CHECK_EQ(run.finish().code, kResultNoDisk, row.label);
            CHECK_EQ(virtual_calculator::finishCount(1), 0, "no finish for the stranger");
            continue;
        }
        virtual_calculator::setPluggedIn(1, true);
        CHECK_EQ(run.transfer(1, {}).code, kResultOk, "back: the run goes on");
    }
}
