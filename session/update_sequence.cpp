#include "session/update_sequence.h"

SequenceDecision afterFileResult(ResultCode code, SequencePosition now, int fileCount) {
    SequenceDecision decision;
    decision.next = now;
    if (code != kResultOk) {
        decision.next.failures = now.failures + 1;
        decision.step = now.failures < kMaxRetriesPerFile ? NextStep::Retry : NextStep::Failed;
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
