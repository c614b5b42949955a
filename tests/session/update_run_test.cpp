// The update engine: the rule after each file, a run over one calculator from
// start to end, and a run in lockstep over every calculator present, step by
// step as the dialog drives it.
#include "base/pacing.h"
#include "base/utf16_text.h"
#include "device/calculator_holds.h"
#include "device/disk_discovery.h"
#include "harness.h"
#include "session/advice.h"
#include "session/update_run.h"
#include "support.h"

#include <future>
#include <mutex>
#include <thread>

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
    void waiting(const DiskIdentity&, bool back) override { add(back ? "back" : "waiting"); }
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

bool unitHoldsSet(int unit, const std::vector<RunFile>& files) {
    for (const RunFile& file : files) {
        if (virtual_calculator::readUnit(unit, file.diskOffset, file.size) !=
            support::readFile(toUtf8(file.path), 0, file.size))
            return false;
    }
    return true;
}

// A run in lockstep as the dialog drives it: each file to whoever lacks it,
// the finish command for those that leave while the others go on, and the
// run's own at the end. Returns how the run ended.
SequenceDecision driveToTheEnd(UpdateRun& run) {
    std::size_t index = 0;
    for (int steps = 0; steps < 60; ++steps) {
        const SequenceDecision decision = run.transfer(index).decision;
        const bool goesOn = decision.step == NextStep::NextFile || decision.step == NextStep::Retry;
        if (goesOn && !decision.leaving.empty())
            (void)run.finishLeft();
        if (decision.step == NextStep::NextFile)
            index = static_cast<std::size_t>(decision.next.index);
        if (!goesOn) {
            (void)run.finish();
            return decision;
        }
    }
    return {};
}

} // namespace

// Every kind of failure tells its user what to do next.
DEVICE_TEST(everyFailureHasAdvice) {
    for (int kind = static_cast<int>(Failure::NoCalculator);
         kind <= static_cast<int>(Failure::FinishNotWritten); ++kind) {
        const Advice advice = adviceFor(static_cast<Failure>(kind));
        CHECK(advice != Advice::None && !englishAdvice(advice).empty(),
              "failure kind " + std::to_string(kind));
    }
}

DEVICE_TEST(sequenceRuleAfterEachResult) {
    struct Row {
        const char* label;
        ResultCode code;
        Failure failure;
        SequencePosition now;
        NextStep step;
        SequencePosition next;
    };
    const Row rows[] = {
        {"first file written", 0, Failure::None, {0, 0}, NextStep::NextFile, {1, 0}},
        {"written after failures: the count starts again",
         0,
         Failure::None,
         {1, 4},
         NextStep::NextFile,
         {2, 0}},
        {"last file written", 0, Failure::None, {2, 3}, NextStep::Done, {2, 3}},
        {"first failure", 112, Failure::Write, {1, 0}, NextStep::Retry, {1, 1}},
        {"fifth failure: the sixth attempt follows",
         104,
         Failure::Disconnected,
         {0, 4},
         NextStep::Retry,
         {0, 5}},
        {"sixth failure ends the update", 107, Failure::DiskOpen, {2, 5}, NextStep::Failed, {2, 6}},
        {"another updater's calculator: no retry",
         116,
         Failure::HeldElsewhere,
         {1, 0},
         NextStep::Failed,
         {1, 1}},
        {"one without a serial that left: no retry",
         104,
         Failure::DisconnectedNoSerial,
         {1, 0},
         NextStep::Failed,
         {1, 1}},
    };
    for (const Row& row : rows) {
        const SequenceDecision decision = afterFileResult(row.code, row.failure, row.now, 3);
        CHECK(decision.step == row.step, row.label);
        CHECK_EQ(decision.next.index, row.next.index, row.label);
        CHECK_EQ(decision.next.failures, row.next.failures, row.label);
    }
}

DEVICE_TEST(aRunFromStartToEnd) {
    struct Row {
        const char* label;
        std::int64_t refuseAt; // writes starting here fail; -2: held by another updater
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
        // Another updater's calculator: nothing written, not retried, and no
        // finish command, not even once the other has let go.
        {"held by another updater",
         -2,
         false,
         kResultHeldElsewhere,
         0,
         0,
         {"file OS", "done OS 116"}},
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
            CHECK_EQ(claimCalculator(other, found.at(1).path, check).code, kResultOk,
                     "held by another");
        }
        UpdateRun run;
        run.begin(threeFiles(), unit1, &recorder);
        RunOptions runOptions;
        runOptions.stop = &stop;
        const RunSummary result = run.run(runOptions);
        other.releaseAll();
        CHECK_EQ(result.result, row.result, row.label);
        CHECK_EQ(result.filesWritten, row.filesWritten, row.label);
        CHECK_EQ(result.finishSent, row.finishes == 1, row.label);
        CHECK_LINES(recorder.events, row.events, row.label);
        CHECK_EQ(recorder.strangers, 0, row.label);
        CHECK_EQ(virtual_calculator::finishCount(1), row.finishes, row.label);
        CHECK(virtual_calculator::trace(0).empty(), "the other calculator is left alone");
        if (row.result == kResultOk)
            CHECK(unitHoldsSet(1, threeFiles()), row.label);
    }
}

// An unplugged calculator is waited for, and the run goes on with the file
// it stopped at once it is back.
DEVICE_TEST(anUnpluggedCalculatorIsWaitedFor) {
    struct Row {
        const char* label;
        int backAfterMs; // -1: never
        ResultCode result;
        std::vector<std::string> events;
    };
    const Row rows[] = {
        {"back in time: every file",
         200,
         kResultOk,
         {"file OS", "done OS 104", "waiting", "back", "file OS", "done OS 0", "file MAIN",
          "done MAIN 0", "file APP", "done APP 0", "finish 0"}},
        {"never back: the run ends with 104",
         -1,
         kResultNoDisk,
         {"file OS", "done OS 104", "waiting"}},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = 1;
        options.vanishAfterWrites = 1;
        options.vanishMs = row.backAfterMs;
        support::freshCalculator(options);
        Recorder recorder;
        recorder.expected = support::unitIdentity(0).serial;
        UpdateRun run;
        run.begin(threeFiles(), support::unitIdentity(0), &recorder);
        RunOptions runOptions;
        runOptions.waitForReturnMs = 20000;
        const RunSummary result = run.run(runOptions);
        CHECK_EQ(result.result, row.result, row.label);
        std::vector<std::string> events = recorder.events;
        // Whether the finish command to an absent calculator was tried is the
        // release's business; the waiting is what counts here.
        if (row.result != kResultOk && events.size() > row.events.size())
            events.resize(row.events.size());
        CHECK_LINES(events, row.events, row.label);
        if (row.result == kResultOk)
            CHECK(unitHoldsSet(0, threeFiles()), row.label);
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
    run.begin(files, nullptr);
    RunStep step = run.transfer(0);
    CHECK_EQ(step.result.code, kResultOk, "first file, unit 0 alone");
    CHECK(step.decision.step == NextStep::NextFile, "next file");
    // Unit 1 plugged in: not of this run.
    virtual_calculator::setPluggedIn(1, true);
    step = run.transfer(1);
    CHECK_EQ(step.result.code, kResultOk, "second file");
    CHECK(step.leftAlone.size() == 1 && step.leftAlone[0].serial == u"00000001",
          "unit 1 left alone");
    // Unit 0 unplugged: the next file fails for it, and is tried again.
    virtual_calculator::setPluggedIn(0, false);
    step = run.transfer(2);
    CHECK_EQ(step.result.code, kResultNoDisk, "a member missing");
    CHECK(step.result.failure == Failure::Disconnected, "said to be disconnected");
    CHECK(toUtf8(step.result.cause).find("00000000") != std::string::npos, "names the missing one");
    CHECK(step.decision.step == NextStep::Retry, "tried again");
    virtual_calculator::setPluggedIn(0, true);
    step = run.transfer(2);
    CHECK_EQ(step.result.code, kResultOk, "member back");
    CHECK(step.decision.step == NextStep::Done, "done");
    CHECK(step.calculators.size() == 1 && step.calculators[0].filesHeld == 3,
          "unit 0 holds the set");
    CHECK_EQ(run.finish().result.code, kResultOk, "finish");
    CHECK(virtual_calculator::trace(1).empty(), "unit 1 never touched");
    CHECK_EQ(virtual_calculator::finishCount(1), 0, "no finish for unit 1");
    // A new run takes every calculator present.
    run.begin(files, nullptr);
    CHECK_EQ(run.transfer(0).result.code, kResultOk, "new run");
    CHECK_EQ(run.state().calculators.size(), std::size_t(2), "both in the new run");
}

// One calculator of a class set fails for good: the others get the whole set,
// it gets its finish command once, and the run does not end as done.
DEVICE_TEST(oneFailureSpoilsNone) {
    struct Row {
        const char* label;
        int units;
        int refusing; // its writes to VELA_MAIN.DAT's place fail
        NextStep end;
    };
    const Row rows[] = {
        {"three, the third refuses the second file", 3, 2, NextStep::Failed},
        {"one refusing: the run ends as it always did", 1, 0, NextStep::Failed},
        {"three, none refusing", 3, -1, NextStep::Done},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = row.units;
        options.refuseWriteAt = row.refusing < 0 ? -1 : 0x100000;
        options.refuseUnit = row.refusing;
        support::freshCalculator(options);
        const std::vector<RunFile> files = threeFiles();
        UpdateRun run;
        run.begin(files, nullptr);
        const SequenceDecision end = driveToTheEnd(run);
        CHECK(end.step == row.end, row.label);
        CHECK_EQ(end.code, row.refusing < 0 ? kResultOk : kResultWrite, row.label);
        for (int unit = 0; unit < row.units; ++unit) {
            const std::string which = std::string(row.label) + ", unit " + std::to_string(unit);
            CHECK_EQ(unitHoldsSet(unit, files), unit != row.refusing, which);
            CHECK_EQ(virtual_calculator::finishCount(unit), 1, which);
        }
        if (row.refusing >= 0) {
            // Six attempts at the refused file, the retries to it alone.
            std::size_t mainWrites = 0;
            for (const auto& entry : virtual_calculator::trace(row.refusing))
                mainWrites += entry.op == virtual_calculator::Op::Write && entry.pos == 0x100000;
            CHECK_EQ(mainWrites, std::size_t(6 * 7), row.label);
            const RunStep state = run.state();
            const CalculatorState& failed =
                state.calculators[static_cast<std::size_t>(row.refusing)];
            CHECK(failed.left && failed.last == kResultWrite && failed.filesHeld == 1, row.label);
        }
        if (row.units > 1 && row.refusing >= 0) {
            std::size_t mainWrites = 0;
            for (const auto& entry : virtual_calculator::trace(0))
                mainWrites += entry.op == virtual_calculator::Op::Write && entry.pos == 0x100000;
            CHECK_EQ(mainWrites, std::size_t(1), "a healthy one is written once");
        }
    }
}

// A member missing while another is present: the present one is written,
// the missing one fails alone. Without a serial, a calculator back at its
// place is another calculator: the one of the run leaves it.
DEVICE_TEST(aMemberMissingFailsAlone) {
    struct Row {
        const char* label;
        bool noSerial;
        const char* cause;
        NextStep next;
    };
    const Row rows[] = {
        {"with a serial: unplugged, the other present", false, "00000001", NextStep::Retry},
        {"without a serial: unplugged and plugged in again", true, "has no serial number",
         NextStep::NextFile},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = 2;
        options.noSerial = row.noSerial;
        support::freshCalculator(options);
        const std::vector<RunFile> files = threeFiles();
        UpdateRun run;
        run.begin(files, nullptr);
        CHECK_EQ(run.transfer(0).result.code, kResultOk, row.label);
        virtual_calculator::setPluggedIn(1, false);
        if (row.noSerial)
            virtual_calculator::setPluggedIn(1, true);
        const RunStep step = run.transfer(1);
        CHECK_EQ(step.result.code, kResultNoDisk, row.label);
        CHECK(toUtf8(step.result.cause).find(row.cause) != std::string::npos,
              toUtf8(step.result.cause));
        CHECK(step.decision.step == row.next, row.label);
        CHECK(virtual_calculator::readUnit(0, files[1].diskOffset, files[1].size) ==
                  support::readFile(toUtf8(files[1].path), 0, files[1].size),
              std::string(row.label) + ": the present one written");
        if (row.noSerial) {
            (void)run.finishLeft();
            CHECK_EQ(virtual_calculator::finishCount(1), 0, "no finish for the stranger");
            continue;
        }
        virtual_calculator::setPluggedIn(1, true);
        CHECK_EQ(run.transfer(1).result.code, kResultOk, "back: the run goes on");
    }
}

// Between the last file and the finish command, no other updater can take a
// calculator of the run: its holds last through the pause.
DEVICE_TEST(holdsLastThroughTheFinishPause) {
    support::freshCalculator(1);
    UpdateRun run;
    run.begin(threeFiles(), nullptr);
    CHECK_EQ(run.transfer(0).result.code, kResultOk, "written");
    pacing::testing::setStretch(1000);
    std::promise<void> pausing;
    std::thread release([&] {
        pausing.set_value();
        (void)run.finish();
    });
    pausing.get_future().wait();
    // Inside the stretched 250 ms pause (1 s here at the tests' pace).
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<FoundDisk> found = scanUpdateDisks(updateVendorId, updateProductId);
    CalculatorHolds other;
    CHECK_EQ(claimCalculator(other, found.at(0).path, found.at(0).check).code, kResultHeldElsewhere,
             "still held during the pause");
    release.join();
    pacing::testing::setStretch(1);
    CHECK_EQ(virtual_calculator::finishCount(0), 1, "finished");
    CHECK_EQ(claimCalculator(other, found.at(0).path, found.at(0).check).code, kResultOk,
             "let go after the finish command");
}
