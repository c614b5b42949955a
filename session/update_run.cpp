#include "session/update_run.h"

#include "base/pacing.h"

#include <algorithm>

namespace {

std::mutex listenerLock;
std::function<void(const DiskIdentity&, int)> calculatorListener; // under listenerLock

} // namespace

void UpdateRun::begin(std::vector<RunFile> files) {
    std::lock_guard<std::mutex> hold(lock_);
    files_ = std::move(files);
    one_ = false;
    calculator_ = {};
    begun_ = false;
    calculators_.clear();
    held_.clear();
    leftAlone_.clear();
    position_ = {};
    last_ = {};
    holds_.releaseAll();
}

void UpdateRun::begin(std::vector<RunFile> files, const DiskIdentity& calculator) {
    begin(std::move(files));
    std::lock_guard<std::mutex> hold(lock_);
    one_ = true;
    calculator_ = calculator;
}

CalculatorSet UpdateRun::setLocked() const {
    CalculatorSet set;
    set.holds = const_cast<CalculatorHolds*>(&holds_);
    if (one_) {
        set.everyPresent = false;
        set.members = {calculator_};
        // Among others that have runs of their own: only its calculator counts.
        set.strangersCount = false;
    } else if (begun_) {
        set.everyPresent = false;
        for (const CalculatorState& state : calculators_)
            set.members.push_back(state.identity);
    }
    return set;
}

// The dialog's run writes through the table the specified layer names; a
// run of one calculator through its own, so that runs side by side never
// share one.
DiskTable& UpdateRun::tableLocked() {
    return one_ ? ownTable_ : UpdateDiskTable;
}

// What the result says of each calculator. The first transfer that set out
// to write fixes the run's calculators, whatever came of it: one that failed
// must still get the whole set.
void UpdateRun::noteLocked(const DeviceResult& result, bool finish) {
    if (!begun_ && !finish && !result.calculators.empty()) {
        begun_ = true;
        calculators_.clear();
        held_.clear();
        leftAlone_.clear();
        for (const CalculatorOutcome& outcome : result.calculators) {
            calculators_.push_back({outcome.identity, 0, kResultOk, {}, false});
            held_.emplace_back(files_.size(), false);
        }
    }
    for (const CalculatorOutcome& outcome : result.calculators) {
        for (std::size_t i = 0; i < calculators_.size(); ++i) {
            CalculatorState& state = calculators_[i];
            if (state.identity != outcome.identity)
                continue;
            state.last = outcome.code;
            state.cause = outcome.code == kResultOk ? std::u16string() : describeOutcome(outcome);
            if (finish) {
                state.finished = outcome.code == kResultOk;
            } else if (outcome.code == kResultOk) {
                held_[i][static_cast<std::size_t>(position_.index)] = true;
                state.filesHeld =
                    static_cast<int>(std::count(held_[i].begin(), held_[i].end(), true));
            }
        }
    }
    if (begun_) {
        for (const DiskIdentity& identity : result.leftAlone) {
            if (std::find(leftAlone_.begin(), leftAlone_.end(), identity) == leftAlone_.end())
                leftAlone_.push_back(identity);
        }
    }
    last_ = result;
}

DeviceResult UpdateRun::transfer(std::size_t index, const TransferObserver& observer) {
    CalculatorSet set;
    RunFile file;
    DiskTable* table = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (index >= files_.size()) {
            last_ = {};
            last_.code = kResultFileOpen;
            last_.cause = phrase(Phrase::NoSuchFile);
            return last_;
        }
        // A new file begins with no failures.
        if (static_cast<int>(index) != position_.index)
            position_ = {static_cast<int>(index), 0};
        set = setLocked();
        table = &tableLocked();
        file = files_[index];
    }
    DeviceResult result = writeFile(set, file, observer, *table);
    std::lock_guard<std::mutex> hold(lock_);
    noteLocked(result, false);
    return result;
}

SequenceDecision UpdateRun::afterFile(ResultCode code) {
    std::lock_guard<std::mutex> hold(lock_);
    const SequenceDecision decision =
        afterFileResult(code, position_, static_cast<int>(files_.size()));
    position_ = decision.next;
    return decision;
}

DeviceResult UpdateRun::finish() {
    pacing::pauseMs(kFinishPauseMs);
    CalculatorSet set;
    DiskTable* table = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        set = setLocked();
        table = &tableLocked();
    }
    DeviceResult result = sendFinishCommand(set, *table);
    std::lock_guard<std::mutex> hold(lock_);
    noteLocked(result, true);
    // The run is over: the next transfer begins another with whoever is there.
    begun_ = one_;
    holds_.releaseAll();
    return result;
}

namespace {

// A run of one calculator speaks of it by name already: its own cause, as the
// calculator's outcome has it, without the name in front.
std::u16string ownCause(const DeviceResult& result) {
    return result.calculators.size() == 1 ? result.calculators.front().cause : result.cause;
}

} // namespace

RunSummary UpdateRun::run(RunObserver& observer, const std::atomic<bool>* stop) {
    static const std::atomic<bool> never{false};
    const std::atomic<bool>& stopNow = stop ? *stop : never;
    TransferObserver transferObserver;
    transferObserver.progress = [&observer](const DiskIdentity& calculator, int percent) {
        observer.progress(calculator, percent);
    };
    transferObserver.stop = &stopNow;
    const std::vector<RunFile> set = files();
    DiskIdentity calculator;
    {
        std::lock_guard<std::mutex> hold(lock_);
        calculator = calculator_;
    }

    RunSummary summary;
    std::size_t index = 0;
    bool writing = !set.empty();
    while (writing) {
        if (stopNow.load()) {
            summary.stopped = true;
            break;
        }
        const RunFile& file = set[index];
        observer.fileStarted(calculator, file);
        const DeviceResult result = transfer(index, transferObserver);
        // Every file begun is ended in the reports, a stopped one too.
        observer.fileEnded(calculator, file, result.code, ownCause(result));
        if (result.code == kResultStopped) {
            summary.stopped = true;
            summary.cause = ownCause(result);
            break;
        }
        summary.filesWritten += result.code == kResultOk;
        const SequenceDecision decision = afterFile(result.code);
        switch (decision.step) {
        case NextStep::NextFile:
            index = static_cast<std::size_t>(decision.next.index);
            break;
        case NextStep::Retry:
            observer.retrying(calculator, result.code, decision.next.failures);
            (void)pacing::pauseMs(kRetryPauseMs, stopNow);
            break;
        case NextStep::Done:
            writing = false;
            break;
        case NextStep::Failed:
            summary.result = result.code;
            summary.cause = ownCause(result);
            writing = false;
            break;
        }
    }
    if (summary.stopped) {
        summary.result = kResultStopped;
        if (summary.cause.empty())
            summary.cause = u"Stopped before the update was complete";
        std::lock_guard<std::mutex> hold(lock_);
        holds_.releaseAll();
        return summary;
    }
    // As the dialog does, the finish command follows a failed update too: the
    // calculator leaves update mode either way.
    const DeviceResult release = finish();
    summary.finishSent = release.code == kResultOk;
    observer.finished(calculator, release.code, ownCause(release));
    if (summary.result == kResultOk && !summary.finishSent) {
        summary.result = release.code;
        summary.cause = ownCause(release);
    }
    return summary;
}

std::vector<RunFile> UpdateRun::files() const {
    std::lock_guard<std::mutex> hold(lock_);
    return files_;
}

bool UpdateRun::begun() const {
    std::lock_guard<std::mutex> hold(lock_);
    return begun_;
}

std::vector<CalculatorState> UpdateRun::calculators() const {
    std::lock_guard<std::mutex> hold(lock_);
    return calculators_;
}

std::vector<DiskIdentity> UpdateRun::leftAlone() const {
    std::lock_guard<std::mutex> hold(lock_);
    return leftAlone_;
}

DeviceResult UpdateRun::lastResult() const {
    std::lock_guard<std::mutex> hold(lock_);
    return last_;
}

UpdateRun& currentUpdateRun() {
    static UpdateRun run;
    return run;
}

void setCalculatorListener(std::function<void(const DiskIdentity&, int)> listener) {
    std::lock_guard<std::mutex> hold(listenerLock);
    calculatorListener = std::move(listener);
}

ResultCode runFileTransfer(const char16_t*, const char16_t*, const char16_t* filePath,
                           std::uint64_t diskOffset, ProgressCallback progress,
                           MessageCallback message) {
    UpdateRun& run = currentUpdateRun();
    const std::u16string path = filePath ? filePath : u"";
    const std::vector<RunFile> files = run.files();
    std::size_t index = 0;
    while (index < files.size() &&
           (files[index].path != path || files[index].diskOffset != diskOffset))
        ++index;
    // The dialog's bar and line speak for every calculator of the run; its
    // list hears of each one by name.
    TransferObserver observer;
    observer.progress = [progress](const DiskIdentity& calculator, int percent) {
        if (progress)
            progress(percent);
        std::lock_guard<std::mutex> hold(listenerLock);
        if (calculatorListener)
            calculatorListener(calculator, percent);
    };
    observer.message = [message](const DiskIdentity&, const std::u16string& text) {
        if (message)
            message(text.c_str());
    };
    return run.transfer(index, observer).code;
}

ResultCode releaseUpdateDisks(const char16_t*, const char16_t*) {
    return currentUpdateRun().finish().code;
}
