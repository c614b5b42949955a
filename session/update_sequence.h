// The rule of one update after each file's result: the next file, another
// attempt of the same file, or the end. The engine (update_run.h) follows it
// for each calculator of a run, for the dialog and the command line alike.
// Plain C++17, no Qt.
#pragma once

#include "device/calculators.h"

#include <vector>

// A file that fails is tried again at most five times: six attempts in all.
constexpr int kMaxRetriesPerFile = 5;
// The pause after a failed attempt, before the next one.
constexpr int kRetryPauseMs = 3000;
// The pause after the last file's result, before the finish command.
constexpr int kFinishPauseMs = 250;

enum class NextStep {
    NextFile, // the file was written; the next one follows
    Retry,    // the file failed; it is tried again
    Done,     // the last file was written
    Failed,   // the file failed for the sixth time, or for good (another updater
              // holds the calculator, or one without a serial left): the update
              // ends for it
};

struct SequencePosition {
    int index = 0;    // the file being written, in installation order
    int failures = 0; // failed attempts of that file so far
};

struct SequenceDecision {
    NextStep step = NextStep::Done;
    // Where the update stands afterwards: after a failure its count of
    // failures includes this one, after a written file the next one starts
    // with none. Done leaves the position as it was.
    SequencePosition next;
    // For a run of several calculators: the failure its first line shows (the
    // one tried again, or the first that made a calculator leave the run; 0
    // when none failed)...
    ResultCode code = kResultOk;
    // ...and the calculators that failed for good with this result: they are
    // written no more and get their finish command.
    std::vector<DiskIdentity> leaving;
};

// Failures no attempt can mend: another updater's calculator is not this
// update's to write, now or three seconds later (it would be written in turns
// by both), and one without a serial that left cannot be told from another.
[[nodiscard]] bool isFinalFailure(ResultCode code, Failure failure);

// The rule for one calculator (or for a run before its calculators are known).
[[nodiscard]] SequenceDecision afterFileResult(ResultCode code, Failure failure,
                                               SequencePosition now, int fileCount);
