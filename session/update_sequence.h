// The rule of one update after each file's result: the next file, another
// attempt of the same file, or the end. The engine (update_run.h) follows it
// for the dialog and the command line alike.
// Plain C++17, no Qt.
#pragma once

#include "device/calculators.h"

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
    Failed,   // the file failed for the sixth time, or another updater holds the
              // calculator: the update ends
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
};

[[nodiscard]] SequenceDecision afterFileResult(ResultCode code, SequencePosition now,
                                               int fileCount);
