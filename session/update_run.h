// The one update engine. An update run owns what an update is: its files in
// installation order, its calculators (every one present at its first write,
// or one named calculator), the rule after each file's result for each of
// them, the finish command, and what each calculator holds in the end. The
// dialog drives one run over every calculator in lockstep, a step at a time
// (its worker and its release); the command-line tool runs one per
// calculator from start to end. Plain C++17, no Qt.
#pragma once

#include "device/calculators.h"
#include "session/update_sequence.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One image of the run's set, as it was checked: a transfer writes exactly
// those bytes or fails.
using RunFile = FileToWrite;

// What one calculator of the run holds, and how its last file went.
struct CalculatorState {
    DiskIdentity identity;
    int filesHeld = 0;               // files of the set written to it
    ResultCode last = kResultOk;     // its last file's result
    std::u16string cause;            // of last, naming the calculator; empty when 0
    Failure failure = Failure::None; // of last
    int failures = 0;                // failed attempts of the file it is at
    bool left = false;               // failed for good: written no more
    bool finished = false;           // its finish command went out
};

// What one step of a run did, and the whole run as it stands after it: the
// value the dialog and the tool read what happened from.
struct RunStep {
    bool finish = false;       // a finish command; else a transfer
    DeviceResult result;       // for every calculator the step aimed at
    SequenceDecision decision; // after a transfer: what follows
    std::vector<CalculatorState> calculators;
    // Connected during the run and not of it, oldest first: not written.
    std::vector<DiskIdentity> leftAlone;
    int files = 0; // of the set
};

// What a run tells as it goes. progress is called on the transfer threads
// (several at once), the rest on the thread of the step. Each has a default
// that ignores it.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void progress(const DiskIdentity& calculator, int percent);
    // After every step, the run as it stands.
    virtual void stepEnded(const RunStep& step);

    // A run from start to end (run()) also tells:
    virtual void fileStarted(const DiskIdentity& calculator, const RunFile& file);
    virtual void fileEnded(const DiskIdentity& calculator, const RunFile& file, ResultCode code,
                           const std::u16string& cause);
    // The file failed and is tried again; attempt counts the retries (1..5).
    virtual void retrying(const DiskIdentity& calculator, ResultCode code, int attempt);
    // The calculator was unplugged: it is waited for (back false), and came
    // back (back true).
    virtual void waiting(const DiskIdentity& calculator, bool back);
    // The finish command went out (code 0) or could not.
    virtual void finished(const DiskIdentity& calculator, ResultCode code,
                          const std::u16string& cause);
};

// How a run from start to end came out.
struct RunSummary {
    // 0 when every file was written and the finish command went out; else the
    // failure that ended the update, or kResultStopped.
    ResultCode result = kResultOk;
    std::u16string cause;
    Failure failure = Failure::None;
    int filesWritten = 0;
    bool finishSent = false;
    // Told to stop: the calculator is left incomplete and gets no finish command.
    bool stopped = false;
};

struct RunOptions {
    // When set, the transfer being written ends after its chunk, and the
    // calculator gets no finish command.
    const std::atomic<bool>* stop = nullptr;
    // A calculator with a serial that is unplugged is waited for this long
    // instead of the pause before the next attempt.
    int waitForReturnMs = 0;
};

class UpdateRun {
public:
    UpdateRun();
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // A new run of these files over every calculator present at its first
    // write, through UpdateDiskTable; the plain transfer calls
    // (transfer_calls.h) drive this run until another begins. The observer
    // hears of every step; it must outlive the run's steps.
    void begin(std::vector<RunFile> files, RunObserver* observer);
    // ...or over one calculator, through a table of the run's own, so that
    // runs of different calculators never wait for one another.
    void begin(std::vector<RunFile> files, const DiskIdentity& calculator, RunObserver* observer);

    // One attempt at the file at `index` to those of the run's calculators
    // that lack it (the first attempt of a run fixes them), then the rule for
    // each of them. Blocks until it has ended. `callbacks` hear of it besides
    // the observer.
    [[nodiscard]] RunStep transfer(std::size_t index, const TransferObserver& callbacks = {});
    // The pause after the last file, then the finish command to the run's
    // calculators that have not had it (to every one present when nothing was
    // written yet), never to one this run never held; the run is over, its
    // calculators let go afterwards.
    [[nodiscard]] RunStep finish();
    // The finish command to the calculators that left the run, while the
    // others go on.
    [[nodiscard]] RunStep finishLeft();

    // Every step in turn, pauses included, until the run is over or told to
    // stop (then the calculator gets no finish command).
    [[nodiscard]] RunSummary run(const RunOptions& options = {});

    // The last step, as the run stands now. Safe from any thread, also while
    // a step runs.
    [[nodiscard]] RunStep state() const;
    [[nodiscard]] std::vector<RunFile> files() const;

private:
    CalculatorSet setLocked(std::size_t index) const;
    RunStep stateLocked() const;
    void noteLeftAloneLocked(const DeviceResult& result);
    void noteTransferLocked(std::size_t index, const DeviceResult& result,
                            SequenceDecision& decision);
    RunStep sendFinish(bool leftOnly);
    bool waitForReturn(const DiskIdentity& calculator, const RunOptions& options);

    mutable std::mutex lock_;
    std::vector<RunFile> files_;
    bool one_ = false; // over one named calculator
    DiskIdentity calculator_;
    RunObserver* observer_ = nullptr;
    bool begun_ = false; // the run's calculators are fixed
    std::vector<CalculatorState> calculators_;
    std::vector<std::vector<bool>> held_; // per calculator, per file
    std::vector<bool> claimed_;           // per calculator: this run held it once
    std::vector<DiskIdentity> leftAlone_;
    SequencePosition position_;           // the file being written; failures before begun_
    std::vector<DiskIdentity> leftOrder_; // calculators in the order they left
    RunStep last_;                        // its result and decision, the rest filled in by state()
    CalculatorHolds holds_;               // from the first write to the finish command
    std::shared_ptr<DiskTable> ownTable_; // for a run over one calculator
};
