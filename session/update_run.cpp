#include "session/update_run.h"

#include "base/pacing.h"
#include "session/table_run.h"

#include <algorithm>

void RunObserver::progress(const DiskIdentity&, int) {}
void RunObserver::stepEnded(const RunStep&) {}
void RunObserver::fileStarted(const DiskIdentity&, const RunFile&) {}
void RunObserver::fileEnded(const DiskIdentity&, const RunFile&, ResultCode,
                            const std::u16string&) {}
void RunObserver::retrying(const DiskIdentity&, ResultCode, int) {}
void RunObserver::waiting(const DiskIdentity&, bool) {}
void RunObserver::finished(const DiskIdentity&, ResultCode, const std::u16string&) {}

namespace {

constexpr int kReturnPollMs = 500;

// The run the plain transfer calls drive: the one over UpdateDiskTable.
std::mutex tableRunLock;
UpdateRun* tableRun = nullptr; // under tableRunLock

} // namespace

UpdateRun* runOverUpdateDiskTable() {
    std::lock_guard<std::mutex> hold(tableRunLock);
    return tableRun;
}

namespace {

void bindTableRun(UpdateRun* run, bool bound) {
    std::lock_guard<std::mutex> hold(tableRunLock);
    if (bound)
        tableRun = run;
    else if (tableRun == run)
        tableRun = nullptr;
}

} // namespace

UpdateRun::UpdateRun() = default;

UpdateRun::~UpdateRun() {
    bindTableRun(this, false);
}

void UpdateRun::begin(std::vector<RunFile> files, RunObserver* observer) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        files_ = std::move(files);
        one_ = false;
        calculator_ = {};
        observer_ = observer;
        begun_ = false;
        calculators_.clear();
        held_.clear();
        claimed_.clear();
        leftAlone_.clear();
        leftOrder_.clear();
        position_ = {};
        last_ = {};
    }
    holds_.releaseAll();
    bindTableRun(this, true);
}

void UpdateRun::begin(std::vector<RunFile> files, const DiskIdentity& calculator,
                      RunObserver* observer) {
    begin(std::move(files), observer);
    bindTableRun(this, false);
    std::lock_guard<std::mutex> hold(lock_);
    one_ = true;
    calculator_ = calculator;
    if (!ownTable_)
        ownTable_ = newDiskTable();
}

// Whom a transfer of the file at index goes to: the run's calculators that
// lack it and have not left; before the run's first write, every one present
// (or its one calculator). A run of one calculator goes through a table of its
// own, so that runs side by side never share one.
CalculatorSet UpdateRun::setLocked(std::size_t index) const {
    CalculatorSet set;
    set.holds = const_cast<CalculatorHolds*>(&holds_);
    if (one_) {
        set.everyPresent = false;
        set.members = {calculator_};
        // Among others that have runs of their own: only its calculator counts.
        set.strangersCount = false;
        set.table = ownTable_.get();
    } else if (begun_) {
        set.everyPresent = false;
        for (std::size_t i = 0; i < calculators_.size(); ++i) {
            if (!calculators_[i].left && !held_[i][index])
                set.members.push_back(calculators_[i].identity);
        }
    }
    return set;
}

RunStep UpdateRun::stateLocked() const {
    RunStep step = last_;
    step.calculators = calculators_;
    step.leftAlone = leftAlone_;
    step.files = static_cast<int>(files_.size());
    return step;
}

// The calculators an operation left alone that are not of the run: a step
// aimed at some of the run's calculators leaves the others alone too.
void UpdateRun::noteLeftAloneLocked(const DeviceResult& result) {
    for (const DiskIdentity& identity : result.leftAlone) {
        const bool ofTheRun = std::any_of(
            calculators_.begin(), calculators_.end(),
            [&identity](const CalculatorState& state) { return state.identity == identity; });
        if (!ofTheRun &&
            std::find(leftAlone_.begin(), leftAlone_.end(), identity) == leftAlone_.end())
            leftAlone_.push_back(identity);
    }
}

// What the result says of each calculator it was aimed at, and what follows
// for each of them and for the run. The first transfer that reached any
// calculator fixes the run's calculators, whatever came of it: one that
// failed must still get the whole set.
void UpdateRun::noteTransferLocked(std::size_t index, const DeviceResult& result,
                                   SequenceDecision& decision) {
    const int files = static_cast<int>(files_.size());
    if (!begun_ && !result.calculators.empty()) {
        begun_ = true;
        for (const CalculatorOutcome& outcome : result.calculators) {
            CalculatorState state;
            state.identity = outcome.identity;
            calculators_.push_back(state);
            held_.emplace_back(files_.size(), false);
            claimed_.push_back(false);
        }
    }
    if (!begun_) {
        // Nothing reached a calculator: the rule for the run as a whole.
        decision = afterFileResult(result.code, result.failure, position_, files);
        position_ = decision.next;
        return;
    }
    noteLeftAloneLocked(result);
    std::vector<std::size_t> retrying;
    for (std::size_t i = 0; i < calculators_.size(); ++i) {
        CalculatorState& state = calculators_[i];
        if (state.left || held_[i][index])
            continue;
        // A calculator the transfer never came to (too many connected, say)
        // failed with the transfer.
        CalculatorOutcome outcome{state.identity, result.code, result.cause, result.failure};
        for (const CalculatorOutcome& own : result.calculators) {
            if (own.identity == state.identity)
                outcome = own;
        }
        claimed_[i] = claimed_[i] || outcome.reached;
        const SequenceDecision own = afterFileResult(
            outcome.code, outcome.failure, {static_cast<int>(index), state.failures}, files);
        state.last = outcome.code;
        state.cause = outcome.code == kResultOk ? std::u16string() : describeOutcome(outcome);
        state.failure = outcome.failure;
        state.failures = own.next.failures;
        switch (own.step) {
        case NextStep::NextFile:
        case NextStep::Done:
            held_[i][index] = true;
            state.filesHeld = static_cast<int>(std::count(held_[i].begin(), held_[i].end(), true));
            state.failures = 0;
            break;
        case NextStep::Retry:
            retrying.push_back(i);
            break;
        case NextStep::Failed:
            state.left = true;
            leftOrder_.push_back(state.identity);
            decision.leaving.push_back(state.identity);
            break;
        }
    }
    // The run's line speaks of the first calculator that left, once one has:
    // it never reads as if every calculator were well.
    ResultCode firstLeft = kResultOk;
    for (const CalculatorState& state : calculators_) {
        if (!leftOrder_.empty() && state.identity == leftOrder_.front())
            firstLeft = state.last;
    }
    const bool anyActive = std::any_of(calculators_.begin(), calculators_.end(),
                                       [](const CalculatorState& state) { return !state.left; });
    decision.next = {static_cast<int>(index), 0};
    decision.code = firstLeft;
    if (!retrying.empty()) {
        decision.step = NextStep::Retry;
        decision.code = calculators_[retrying.front()].last;
        for (std::size_t i : retrying)
            decision.next.failures = std::max(decision.next.failures, calculators_[i].failures);
    } else if (!anyActive) {
        decision.step = NextStep::Failed;
    } else if (static_cast<int>(index) + 1 >= files) {
        // Every calculator still in the run holds the set; the update is done
        // only when none left it.
        decision.step = leftOrder_.empty() ? NextStep::Done : NextStep::Failed;
    } else {
        decision.step = NextStep::NextFile;
        decision.next = {static_cast<int>(index) + 1, 0};
    }
    position_ = decision.next;
}

RunStep UpdateRun::transfer(std::size_t index, const TransferObserver& callbacks) {
    CalculatorSet set;
    RunFile file;
    RunObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (index >= files_.size()) {
            // Only an image of the run, as it was checked, is ever written.
            DeviceResult refused;
            refused.code = kResultFileOpen;
            refused.cause = u"No such firmware file in this update";
            refused.failure = Failure::FileOpen;
            last_.finish = false;
            last_.result = refused;
            last_.decision = afterFileResult(refused.code, refused.failure, position_,
                                             static_cast<int>(files_.size()));
            last_.decision.step = NextStep::Failed;
            const RunStep step = stateLocked();
            if (observer_)
                observer_->stepEnded(step);
            return step;
        }
        // A new file begins with no failures.
        if (static_cast<int>(index) != position_.index)
            position_ = {static_cast<int>(index), 0};
        set = setLocked(index);
        file = files_[index];
        observer = observer_;
    }
    TransferObserver both;
    both.progress = [&callbacks, observer](const DiskIdentity& calculator, int percent) {
        if (callbacks.progress)
            callbacks.progress(calculator, percent);
        if (observer)
            observer->progress(calculator, percent);
    };
    both.message = callbacks.message;
    both.stop = callbacks.stop;
    const DeviceResult result = writeFile(set, file, both);
    RunStep step;
    {
        std::lock_guard<std::mutex> hold(lock_);
        SequenceDecision decision;
        noteTransferLocked(index, result, decision);
        last_.finish = false;
        last_.result = result;
        last_.decision = decision;
        step = stateLocked();
    }
    if (observer)
        observer->stepEnded(step);
    return step;
}

RunStep UpdateRun::finish() {
    // The calculators stay held through the pause: no other updater may take
    // one between the last file and its finish command.
    pacing::pauseMs(kFinishPauseMs);
    return sendFinish(false);
}

RunStep UpdateRun::finishLeft() {
    return sendFinish(true);
}

RunStep UpdateRun::sendFinish(bool leftOnly) {
    CalculatorSet set;
    RunObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        set.holds = &holds_;
        set.table = one_ ? ownTable_.get() : nullptr;
        observer = observer_;
        // A run that wrote nothing ends the update mode of every calculator
        // present, as the window promises at an abort; one of its own never
        // got anything to finish.
        set.everyPresent = !begun_ && !one_ && !leftOnly;
        for (std::size_t i = 0; begun_ && i < calculators_.size(); ++i) {
            const CalculatorState& state = calculators_[i];
            // Never to a calculator this run never held: another updater's.
            if (!state.finished && claimed_[i] && (!leftOnly || state.left))
                set.members.push_back(state.identity);
        }
    }
    DeviceResult result;
    if (set.everyPresent || !set.members.empty())
        result = sendFinishCommand(set);
    RunStep step;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (const CalculatorOutcome& outcome : result.calculators) {
            for (CalculatorState& state : calculators_) {
                if (state.identity == outcome.identity && outcome.code == kResultOk)
                    state.finished = true;
            }
        }
        if (begun_)
            noteLeftAloneLocked(result);
        last_.finish = true;
        last_.result = std::move(result);
        step = stateLocked();
        if (!leftOnly)
            // The run is over: the next transfer begins another with whoever is there.
            begun_ = begun_ && one_;
    }
    // Let go only after the finish command.
    if (leftOnly) {
        for (const DiskIdentity& identity : set.members)
            holds_.release(identity);
    } else {
        holds_.releaseAll();
    }
    if (observer)
        observer->stepEnded(step);
    return step;
}

bool UpdateRun::waitForReturn(const DiskIdentity& calculator, const RunOptions& options) {
    static const std::atomic<bool> never{false};
    const std::atomic<bool>& stop = options.stop ? *options.stop : never;
    for (int waited = 0; waited < options.waitForReturnMs; waited += kReturnPollMs) {
        for (const FoundCalculator& found : findCalculators()) {
            if (found.identity == calculator)
                return true;
        }
        if (!pacing::pauseMs(kReturnPollMs, stop))
            return false;
    }
    return false;
}

namespace {

// A run of one calculator speaks of it by name already: its own cause, as the
// calculator's outcome has it, without the name in front.
CalculatorOutcome ownOutcome(const DeviceResult& result) {
    if (result.calculators.size() == 1)
        return result.calculators.front();
    return {{}, result.code, result.cause, result.failure};
}

} // namespace

RunSummary UpdateRun::run(const RunOptions& options) {
    static const std::atomic<bool> never{false};
    const std::atomic<bool>& stopNow = options.stop ? *options.stop : never;
    TransferObserver callbacks;
    callbacks.stop = &stopNow;
    const std::vector<RunFile> set = files();
    DiskIdentity calculator;
    RunObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        calculator = calculator_;
        observer = observer_;
    }
    RunObserver none;
    RunObserver& tell = observer ? *observer : none;

    RunSummary summary;
    std::size_t index = 0;
    bool writing = !set.empty();
    while (writing) {
        if (stopNow.load()) {
            summary.stopped = true;
            break;
        }
        const RunFile& file = set[index];
        tell.fileStarted(calculator, file);
        const RunStep step = transfer(index, callbacks);
        const CalculatorOutcome outcome = ownOutcome(step.result);
        // Every file begun is ended in the reports, a stopped one too.
        tell.fileEnded(calculator, file, outcome.code, outcome.cause);
        if (outcome.code == kResultStopped) {
            summary.stopped = true;
            summary.cause = outcome.cause;
            break;
        }
        summary.filesWritten += outcome.code == kResultOk;
        const SequenceDecision& decision = step.decision;
        switch (decision.step) {
        case NextStep::NextFile:
            index = static_cast<std::size_t>(decision.next.index);
            break;
        case NextStep::Retry:
            // An unplugged calculator is asked for rather than tried again
            // in three seconds: putting one back in update mode takes longer.
            if (outcome.failure == Failure::Disconnected && options.waitForReturnMs > 0) {
                tell.waiting(calculator, false);
                if (waitForReturn(calculator, options)) {
                    tell.waiting(calculator, true);
                    break;
                }
                if (stopNow.load()) {
                    summary.stopped = true;
                    writing = false;
                    break;
                }
                summary.result = outcome.code;
                summary.cause = outcome.cause;
                summary.failure = outcome.failure;
                writing = false;
                break;
            }
            tell.retrying(calculator, outcome.code, decision.next.failures);
            (void)pacing::pauseMs(kRetryPauseMs, stopNow);
            break;
        case NextStep::Done:
            writing = false;
            break;
        case NextStep::Failed:
            summary.result = outcome.code;
            summary.cause = outcome.cause;
            summary.failure = outcome.failure;
            writing = false;
            break;
        }
    }
    if (summary.stopped) {
        summary.result = kResultStopped;
        summary.failure = Failure::Stopped;
        holds_.releaseAll();
        return summary;
    }
    // As the dialog does, the finish command follows a failed update too: the
    // calculator leaves update mode either way. A calculator this run never
    // held (another updater's) gets none, and nothing is said of one.
    const RunStep release = finish();
    if (release.result.calculators.empty())
        return summary;
    const CalculatorOutcome finished = ownOutcome(release.result);
    summary.finishSent = finished.code == kResultOk;
    tell.finished(calculator, finished.code, finished.cause);
    if (summary.result == kResultOk && !summary.finishSent) {
        summary.result = finished.code;
        summary.cause = finished.cause;
        summary.failure = finished.failure;
    }
    return summary;
}

RunStep UpdateRun::state() const {
    std::lock_guard<std::mutex> hold(lock_);
    return stateLocked();
}

std::vector<RunFile> UpdateRun::files() const {
    std::lock_guard<std::mutex> hold(lock_);
    return files_;
}
