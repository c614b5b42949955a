#include "session/update_sequence.h"

bool isFinalFailure(ResultCode code, Failure failure) {
    return code == kResultHeldElsewhere || failure == Failure::DisconnectedNoSerial;
}

SequenceDecision afterFileResult(ResultCode code, Failure failure, SequencePosition now,
                                 int fileCount) {
    SequenceDecision decision;
    decision.next = now;
    decision.code = code;
    if (code != kResultOk) {
        decision.next.failures = now.failures + 1;
        const bool again = now.failures < kMaxRetriesPerFile && !isFinalFailure(code, failure);
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
