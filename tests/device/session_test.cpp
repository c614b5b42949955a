#include "base/utf16_text.h"
#include "device/update_run.h"
#include "harness.h"
#include "session/calculator_session.h"
#include "session/update_sequence.h"
#include "support.h"

#include <mutex>

namespace {

// The events of a session as text, in order: "file A", "done A 0", "retry 112 1", "finish 0".
class Recorder : public SessionObserver {
public:
    void fileStarted(const DiskIdentity&, const SessionFile& file) override {
        add("file " + file.name);
    }
    void progress(const DiskIdentity& disk, int) override {
        std::lock_guard<std::mutex> hold(lock_);
        if (disk.serial != expected)
            strangers += 1;
    }
    void fileEnded(const DiskIdentity&, const SessionFile& file, ResultCode code,
                   const std::u16string&) override {
        add("done " + file.name + " " + std::to_string(code));
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

std::vector<SessionFile> threeFiles() {
    const std::string dir = support::tempDir("session");
    const struct {
        const char* name;
        std::uint64_t offset;
        std::size_t size;
    } images[] = {{"OS", 0, 40000}, {"MAIN", 0x100000, 20000}, {"APP", 0x500000, 3 * 16384}};
    std::vector<SessionFile> files;
    unsigned seed = 20;
    for (const auto& image : images) {
        const std::string path = dir + "/" + image.name;
        support::writeFile(path, support::pattern(image.size, ++seed));
        files.push_back({support::wide(path), image.name, image.offset, image.size});
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

DEVICE_TEST(calculatorSessionEvents) {
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
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.units = 2;
        options.refuseWriteAt = row.refuseAt;
        support::freshCalculator(options);
        const DiskIdentity unit1 = support::unitIdentity(1);
        std::atomic<bool> stop{row.stopAtOnce};
        Recorder recorder;
        recorder.expected = unit1.serial;
        CalculatorSession session(unit1, threeFiles(), recorder, &stop);
        const SessionResult result = session.run();
        CHECK_EQ(result.result, row.result, row.label);
        CHECK_EQ(result.filesWritten, row.filesWritten, row.label);
        CHECK_EQ(result.finishSent, row.finishes == 1, row.label);
        CHECK_LINES(recorder.events, row.events, row.label);
        CHECK_EQ(recorder.strangers, 0, row.label);
        CHECK_EQ(virtual_calculator::finishCount(1), row.finishes, row.label);
        CHECK(virtual_calculator::trace(0).empty(), "the other calculator is left alone");
        if (row.result == kResultOk) {
            for (const SessionFile& file : threeFiles())
                CHECK(virtual_calculator::readUnit(1, file.diskOffset, file.size) ==
                          support::readFile(toUtf8(file.path), 0, file.size),
                      row.label);
        }
    }
}
