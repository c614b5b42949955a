#include "worker/update_worker.h"

#include "base/pacing.h"
#include "device/calculators.h"
#include "session/transfer_calls.h"
#include "settings/diagnostics.h"
#include "strings/res_qstring.h"
#include "worker/dialog_link.h"

#include <QMetaObject>
#include <QStringList>

#include <algorithm>
#include <exception>

namespace {

constexpr int kPollMs = 500;
constexpr int kCountdownStepMs = 1000;
constexpr int kBeforeTransferMs = 250;
constexpr int kAfterTransferMs = 100;
constexpr int kIdleMs = 250;
constexpr int kStartCountdownMs = 5250;

} // namespace

void reportProgress(int percent) {
    if (DialogLink* link = dialogLink())
        link->raiseUpdateProgress(percent);
}

void reportMessage(const char16_t* text) {
    if (DialogLink* link = dialogLink())
        link->raiseUpdateMessage(qStringFromUtf16(text));
}

struct WorkerTesting {
    static QString filePath(const CUpdateWorker& worker) {
        std::lock_guard<std::mutex> lock(worker.fileLock_);
        return worker.filePath_;
    }
    static std::uint64_t diskOffset(const CUpdateWorker& worker) {
        std::lock_guard<std::mutex> lock(worker.fileLock_);
        return worker.diskOffset_;
    }
};

QString worker::testing::filePath(const CUpdateWorker& worker) {
    return WorkerTesting::filePath(worker);
}

std::uint64_t worker::testing::diskOffset(const CUpdateWorker& worker) {
    return WorkerTesting::diskOffset(worker);
}

CUpdateWorker::CUpdateWorker() = default;

RunStep CUpdateWorker::takeStep() {
    return announced_.take().value_or(RunStep{});
}

// Each calculator's share of the file, for the dialog's list.
void CUpdateWorker::progress(const DiskIdentity& calculator, int percent) {
    emit calculatorProgress(qStringFromUtf16(describeDisk(calculator)), percent);
}

void CUpdateWorker::stepEnded(const RunStep& step) {
    // A finish command is the release's, on its own thread; only the
    // transfers are this worker's, on its thread.
    if (step.finish)
        return;
    lastStep_ = step;
    stepCame_ = true;
}

CUpdateWorker::~CUpdateWorker() {
    // The loop's last step (leaving it) happens under this lock. Taking it
    // orders that step before the destruction for every observer, including
    // ThreadSanitizer, which cannot see the join inside QThread::wait().
    std::lock_guard<std::mutex> lock(runLock_);
}

void CUpdateWorker::setFile(const QString& path, std::uint64_t diskOffset) {
    std::lock_guard<std::mutex> lock(fileLock_);
    filePath_ = path;
    diskOffset_ = diskOffset;
    hasFile_ = true;
}

void CUpdateWorker::clearFile() {
    std::lock_guard<std::mutex> lock(fileLock_);
    hasFile_ = false;
}

bool CUpdateWorker::hasFile() const {
    std::lock_guard<std::mutex> lock(fileLock_);
    return hasFile_;
}

bool CUpdateWorker::isRunning() const {
    std::lock_guard<std::mutex> lock(runLock_);
    return running_;
}

void CUpdateWorker::restart() {
    bool startLoop = false;
    {
        std::lock_guard<std::mutex> lock(runLock_);
        stopRequested.store(false);
        state.store(WaitingForDevice);
        retryCount.store(0);
        if (DialogLink* link = dialogLink())
            link->startCountdownMs.store(0);
        restartPending_ = true;
        if (!running_) {
            running_ = true;
            startLoop = true;
        }
    }
    // A loop that is still winding down sees stopRequested cleared and goes on;
    // otherwise a fresh one is queued on the worker's thread.
    if (startLoop)
        // By name, so that the queued call is built inside Qt.
        QMetaObject::invokeMethod(this, "process", Qt::QueuedConnection);
}

bool CUpdateWorker::leaveLoop() {
    std::lock_guard<std::mutex> lock(runLock_);
    if (restartPending_) {
        restartPending_ = false;
        tick = 0;
        downloadBegun = false;
        missingTold_.clear();
        lastStep_ = {};
    }
    if (!stopRequested.load())
        return false;
    running_ = false;
    return true;
}

void CUpdateWorker::process() {
    {
        std::lock_guard<std::mutex> lock(runLock_);
        running_ = true;
    }
    tick = 0;
    downloadBegun = false;
    try {
        pacing::pauseMs(kPollMs, stopRequested);
        while (!leaveLoop())
            runPass();
    } catch (...) {
        qCWarning(lcWorker) << "the update loop ended with an exception";
        result.store(-2);
        // The dialog would otherwise keep refusing to close: it never hears
        // of a transfer's end once the loop is gone.
        if (DialogLink* link = dialogLink())
            link->transferActive.store(false);
        try {
            emit loopFailed(-2);
        } catch (...) {
        }
        std::lock_guard<std::mutex> lock(runLock_);
        running_ = false;
    }
}

void CUpdateWorker::runPass() {
    switch (state.load(std::memory_order_acquire)) {
    case WaitingForDevice:
        waitForDevicePass();
        break;
    case StartCountdown:
        countdownPass();
        break;
    case Transferring:
        transferPass();
        break;
    case Succeeded:
        pacing::pauseMs(kIdleMs, stopRequested);
        break;
    case Failed: {
        pacing::pauseMs(kRetryPauseMs, stopRequested);
        int expected = Failed;
        state.compare_exchange_strong(expected, WaitingForDevice);
        break;
    }
    default:
        // A value outside the five states cannot come from the dialog; wait.
        pacing::pauseMs(kPollMs, stopRequested);
        break;
    }
}

void CUpdateWorker::waitForDevicePass() {
    tick = (tick + 1) % 5;
    // Until the first scan has handed a file over there is nothing to install,
    // so a present disk is not acted on yet.
    const std::vector<FoundCalculator> found =
        hasFile() ? findCalculators() : std::vector<FoundCalculator>();
    const int connected = static_cast<int>(found.size());
    // Polled every 500 ms: only a change is worth a line.
    if (connected != lastConnected_)
        qCInfo(lcWorker) << connected << "update disk(s) connected";
    lastConnected_ = connected;
    // Said while it holds, and once more when it stops holding, so that the
    // dialog takes back what it told.
    if (connected > kMaxCalculators || tooManyTold_)
        emit tooManyDisks(connected);
    tooManyTold_ = connected > kMaxCalculators;
    // Once the run has written, a calculator of it that was unplugged is
    // waited for, as one alone would be: writing on to the others would only
    // fail again for it. Not one without a serial number: nothing could tell
    // it again, and its files fail with the cause that says so.
    QStringList missing;
    if (downloadBegun) {
        for (const CalculatorState& member : lastStep_.calculators) {
            // One that left the run is not written again.
            if (!member.identity.hasSerial() || member.left)
                continue;
            const auto present = [&member](const FoundCalculator& calculator) {
                return calculator.identity == member.identity;
            };
            if (std::none_of(found.begin(), found.end(), present))
                missing << qStringFromUtf16(describeDisk(member.identity));
        }
    }
    if (missing != missingTold_) {
        if (!missing.isEmpty())
            qCInfo(lcWorker).noquote() << "waiting for calculators of the run that left:"
                                       << missing.join(QStringLiteral(", "));
        emit membersMissing(missing);
    }
    missingTold_ = missing;
    if (connected > 0 && connected <= kMaxCalculators && missing.isEmpty()) {
        qCInfo(lcWorker) << "update disk present; download begun:" << downloadBegun;
        state.store(StartCountdown);
        if (downloadBegun)
            return;
        // Armed here, before the first read below, so the countdown never
        // depends on how soon the GUI thread handles foundDevice.
        if (DialogLink* link = dialogLink())
            link->startCountdownMs.store(kStartCountdownMs);
        emit foundDevice();
        pacing::pauseMs(kPollMs, stopRequested);
    }
    emit waitingTicks(tick);
    pacing::pauseMs(kPollMs, stopRequested);
}

void CUpdateWorker::countdownPass() {
    DialogLink* link = dialogLink();
    int left = link ? link->startCountdownMs.load() : 0;
    while (left != 0) {
        const int next = left > kCountdownStepMs ? left - kCountdownStepMs : 0;
        // On failure `left` holds the dialog's newer value and the step is
        // taken from there, so a 1000 or 5250 written meanwhile is kept.
        if (link->startCountdownMs.compare_exchange_weak(left, next)) {
            emit waitingStart();
            pacing::pauseMs(kCountdownStepMs, stopRequested);
            return;
        }
    }
    emit downloadActive();
    state.store(Transferring);
    pacing::pauseMs(kBeforeTransferMs, stopRequested);
}

void CUpdateWorker::transferPass() {
    if (DialogLink* link = dialogLink())
        link->transferActive.store(true);
    downloadBegun = true;

    QString path;
    std::uint64_t offset = 0;
    {
        std::lock_guard<std::mutex> lock(fileLock_);
        path = filePath_;
        offset = diskOffset_;
    }
    // The bar and the file line speak for the whole run, as with one
    // calculator; each calculator's share also goes to the dialog's list.
    std::u16string wide(static_cast<std::size_t>(path.size()) + 1, u'\0');
    toWideBuffer(path, wide.data());
    stepCame_ = false;
    const ResultCode code = runFileTransfer(updateVendorId, updateProductId, wide.c_str(), offset,
                                            reportProgress, reportMessage);
    // Without a run to transfer for, there is no step: the file failed.
    if (!stepCame_) {
        lastStep_ = {};
        lastStep_.result.code = code;
        lastStep_.decision.step = NextStep::Failed;
        lastStep_.decision.code = code;
    }
    result.store(code);
    qCInfo(lcWorker) << "transfer of" << path << "at" << offset << "ended with" << code;
    // The next state is stored before the result is announced: the dialog's
    // reaction may store Transferring for the next file, and that store must
    // come last.
    state.store(code == kResultOk ? Succeeded : Failed, std::memory_order_release);
    announced_.post(lastStep_);
    emit updaterRan(code);
    emit downloadInactive();
    pacing::pauseMs(kAfterTransferMs, stopRequested);
}
