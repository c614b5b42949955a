// The one update engine. An update run owns what an update is: its files in
// installation order, its calculators (every one present at its first write,
// or one named calculator), the rule after each file's result, the finish
// command, and what each calculator holds in the end. The dialog drives one
// run over every calculator in lockstep, a step at a time (its worker and its
// release); the command-line tool runs one per calculator from start to end.
// Plain C++17, no Qt.
#pragma once

#include "device/calculators.h"
#include "session/update_sequence.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One image of the run's set, as it was checked: a transfer writes exactly
// those bytes or fails.
using RunFile = FileToWrite;

// What one calculator of the run holds, and how its last step went.
struct CalculatorState {
    DiskIdentity identity;
    int filesHeld = 0;           // files of the set written to it
    ResultCode last = kResultOk; // its last file's or its finish command's result
    std::u16string cause;        // of last, naming the calculator; empty when 0
    bool finished = false;       // the finish command went out
};

// What a run that goes from start to end (run()) tells as it goes; called on
// the run's thread and, for progress, on its transfer threads.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void fileStarted(const DiskIdentity& calculator, const RunFile& file) = 0;
    virtual void progress(const DiskIdentity& calculator, int percent) = 0;
    virtual void fileEnded(const DiskIdentity& calculator, const RunFile& file, ResultCode code,
                           const std::u16string& cause) = 0;
    // The file failed and is tried again; attempt counts the retries (1..5).
    virtual void retrying(const DiskIdentity& calculator, ResultCode code, int attempt) = 0;
    // The finish command went out (code 0) or could not.
    virtual void finished(const DiskIdentity& calculator, ResultCode code,
                          const std::u16string& cause) = 0;
};

// How a run from start to end came out.
struct RunSummary {
    // 0 when every file was written and the finish command went out; else the
    // failure that ended the update, or kResultStopped.
    ResultCode result = kResultOk;
    std::u16string cause;
    int filesWritten = 0;
    bool finishSent = false;
    // Told to stop: the calculator is left incomplete and gets no finish command.
    bool stopped = false;
};

class UpdateRun {
public:
    UpdateRun() = default;
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // A new run of these files: over every calculator present at its first
    // write, through UpdateDiskTable...
    void begin(std::vector<RunFile> files);
    // ...or over one calculator, through a table of the run's own, so that
    // runs of different calculators never wait for one another.
    void begin(std::vector<RunFile> files, const DiskIdentity& calculator);

    // One attempt at the file at `index`, to the run's calculators (the
    // first attempt of a run fixes them). Blocks until it has ended.
    [[nodiscard]] DeviceResult transfer(std::size_t index, const TransferObserver& observer);
    // The update's rule after the result of the last attempt: the next file,
    // the same file again, or the end.
    [[nodiscard]] SequenceDecision afterFile(ResultCode code);
    // The pause after the last file, then the finish command to the run's
    // calculators (to every one present when nothing was written yet); the
    // run is over, its calculators let go.
    [[nodiscard]] DeviceResult finish();

    // Every step in turn, pauses included, until the run is over or `stop` is
    // set (then the transfer being written ends after its chunk, and the
    // calculator gets no finish command).
    [[nodiscard]] RunSummary run(RunObserver& observer, const std::atomic<bool>* stop = nullptr);

    // Safe from any thread, also while a step runs.
    [[nodiscard]] std::vector<RunFile> files() const;
    [[nodiscard]] bool begun() const; // the run's calculators are fixed
    [[nodiscard]] std::vector<CalculatorState> calculators() const;
    // Connected during the run and not of it, oldest first: not written.
    [[nodiscard]] std::vector<DiskIdentity> leftAlone() const;
    // The last transfer's or finish command's result, whole.
    [[nodiscard]] DeviceResult lastResult() const;

private:
    CalculatorSet setLocked() const;
    DiskTable& tableLocked();
    void noteLocked(const DeviceResult& result, bool finish);

    mutable std::mutex lock_;
    std::vector<RunFile> files_;
    bool one_ = false; // over one named calculator
    DiskIdentity calculator_;
    bool begun_ = false;
    std::vector<CalculatorState> calculators_;
    std::vector<std::vector<bool>> held_; // per calculator, per file
    std::vector<DiskIdentity> leftAlone_;
    SequencePosition position_;
    DeviceResult last_;
    CalculatorHolds holds_; // from the first write to the finish command
    DiskTable ownTable_;    // for a run over one calculator
};

// The run the dialog drives, process-wide like UpdateDiskTable: its worker
// writes each file through runFileTransfer, its release ends it through
// releaseUpdateDisks.
[[nodiscard]] UpdateRun& currentUpdateRun();

using ProgressCallback = void (*)(int percent);
// The text is valid only during the call; the receiver copies it.
using MessageCallback = void (*)(const char16_t* text);

// The file at filePath (one of the current run's, found by path and offset)
// onto the current run's calculators; the first of the run's results.
// Progress and messages of every calculator go to the two callbacks, and to
// the run's listener with the calculator named (setCalculatorListener).
[[nodiscard]] ResultCode runFileTransfer(const char16_t* vendor, const char16_t* product,
                                         const char16_t* filePath, std::uint64_t diskOffset,
                                         ProgressCallback progress, MessageCallback message);
// The finish command to the current run's calculators, and the run's end.
ResultCode releaseUpdateDisks(const char16_t* vendor, const char16_t* product);

// Who gets each calculator's progress during runFileTransfer (any thread).
void setCalculatorListener(
    std::function<void(const DiskIdentity& calculator, int percent)> listener);
