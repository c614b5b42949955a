#include "session/update_sequence.h"

SequenceDecision afterFileResult(ResultCode code, SequencePosition now, int fileCount) {
    SequenceDecision decision;
    decision.next = now;
    if (code != kResultOk) {
        decision.next.failures = now.failures + 1;
        // Another updater's calculator is not this update's to write, now or
        // three seconds later: it would be written in turns by both.
        const bool again = now.failures < kMaxRetriesPerFile && code != kResultHeldElsewhere;
        decision.step = again ? NextStep::Retry : NextStep::Failed;
        return decision;
    }
    if (now.index + 1 >= fileCount) {
        decision.step = NextStep::Done;
        return decision;
    }
    decision.step = NextStep::NextFile;
    decision.next = {now.index + 1, 0};
    return decision;
}
