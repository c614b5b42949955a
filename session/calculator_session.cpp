#include "session/calculator_session.h"

#include "device/pacing.h"
#include "device/update_run.h"
#include "session/update_sequence.h"

CalculatorSession::CalculatorSession(DiskIdentity disk, std::vector<SessionFile> files,
                                     SessionObserver& observer, const std::atomic<bool>* stopNow)
    : disk_(std::move(disk)), files_(std::move(files)), observer_(observer), stopNow_(stopNow) {}

SessionResult CalculatorSession::run() {
    static const std::atomic<bool> never{false};
    const std::atomic<bool>& stop = stopNow_ ? *stopNow_ : never;
    const DiskSelection self = DiskSelection::only({disk_}, &holds_);
    TransferObserver transfer;
    transfer.progress = [this](const DiskIdentity& disk, int percent) {
        observer_.progress(disk, percent);
    };
    transfer.stop = &stop;

    SessionResult result;
    SequencePosition position;
    bool writing = !files_.empty();
    while (writing) {
        if (stop.load()) {
            result.stopped = true;
            break;
        }
        const SessionFile& file = files_[static_cast<std::size_t>(position.index)];
        observer_.fileStarted(disk_, file);
        const TransferReport report = transferToCalculators(
            self, updateVendorId, updateProductId, file.path.c_str(), file.diskOffset, transfer);
        if (report.result == kResultStopped) {
            // Every file that was begun is ended in the reports, stopped too.
            observer_.fileEnded(disk_, file, report.result, report.cause);
            result.stopped = true;
            result.cause = report.cause;
            break;
        }
        observer_.fileEnded(disk_, file, report.result, report.cause);
        if (report.result == kResultOk)
            ++result.filesWritten;
        const SequenceDecision decision =
            afterFileResult(report.result, position, static_cast<int>(files_.size()));
        position = decision.next;
        switch (decision.step) {
        case NextStep::NextFile:
            break;
        case NextStep::Retry:
            observer_.retrying(disk_, report.result, decision.next.failures);
            (void)pacing::pauseMs(kRetryPauseMs, stop);
            break;
        case NextStep::Done:
            writing = false;
            break;
        case NextStep::Failed:
            result.result = report.result;
            result.cause = report.cause;
            writing = false;
            break;
        }
    }
    if (result.stopped) {
        result.result = kResultStopped;
        if (result.cause.empty())
            result.cause = u"Stopped before the update was complete";
        holds_.releaseAll();
        return result;
    }
    // As the dialog does, the finish command follows a failed update too: the
    // calculator leaves update mode either way.
    pacing::pauseMs(kFinishPauseMs);
    const TransferReport release = releaseCalculators(self, updateVendorId, updateProductId);
    result.finishSent = release.result == kResultOk;
    holds_.releaseAll();
    observer_.finished(disk_, release.result, release.cause);
    if (result.result == kResultOk && !result.finishSent) {
        result.result = release.result;
        result.cause = release.cause;
    }
    return result;
}
