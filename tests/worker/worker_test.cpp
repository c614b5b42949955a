// The worker's announcements under the situations a run goes through. The
// pauses are divided so that a six-second countdown takes a fraction of that.
#include "device/pacing.h"
#include "worker/dialog_link.h"
#include "worker/update_worker.h"

#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace {

// The fake device: presence, the result of the next transfers, and a gate that
// can hold a transfer while the test acts.
std::atomic<bool> diskPresent{false};
std::atomic<int> disksWhenPresent{1};
std::atomic<int> nextResult{0};
std::atomic<int> transfers{0};
std::atomic<bool> throwInTransfer{false};
std::mutex gateLock;
std::condition_variable gateChanged;
bool gateOpen = true;
bool inTransfer = false;

int fakeConnected() {
    return diskPresent.load() ? disksWhenPresent.load() : 0;
}

TransferOutcome fakeTransfer(const char16_t*, std::uint64_t, const TransferObserver&) {
    if (throwInTransfer.load())
        throw std::runtime_error("broken transfer");
    std::unique_lock<std::mutex> lock(gateLock);
    inTransfer = true;
    gateChanged.notify_all();
    gateChanged.wait(lock, [] { return gateOpen; });
    inTransfer = false;
    ++transfers;
    return {nextResult.load(), {}, {}, {}};
}

void setGate(bool open) {
    std::lock_guard<std::mutex> lock(gateLock);
    gateOpen = open;
    gateChanged.notify_all();
}

class FakeDialog : public DialogLink {
public:
    QString lastMessage; // written by whichever thread reports
    void raiseUpdateProgress(int) override {}
    void raiseUpdateMessage(const QString& text) override { lastMessage = text; }
};

// Receives the worker's signals on the test thread, in the order sent.
class Recorder : public QObject {
    Q_OBJECT
public:
    QStringList events;
    std::function<void(const QString&)> onEvent;

    void attach(CUpdateWorker* w) {
        connect(w, &CUpdateWorker::foundDevice, this, [this] { add("found"); });
        connect(w, &CUpdateWorker::waitingStart, this, [this] { add("start"); });
        connect(w, &CUpdateWorker::downloadActive, this, [this] { add("active"); });
        connect(w, &CUpdateWorker::downloadInactive, this, [this] { add("inactive"); });
        connect(w, &CUpdateWorker::waitingTicks, this,
                [this](int t) { add(QStringLiteral("tick%1").arg(t)); });
        connect(w, &CUpdateWorker::updaterRan, this,
                [this](int c) { add(QStringLiteral("ran%1").arg(c)); });
        connect(w, &CUpdateWorker::loopFailed, this,
                [this](int c) { add(QStringLiteral("failed%1").arg(c)); });
        connect(w, &CUpdateWorker::tooManyDisks, this,
                [this](int n) { add(QStringLiteral("many%1").arg(n)); });
    }
    // Events with the waiting ticks left out.
    QStringList steps() const {
        QStringList out;
        for (const QString& e : events)
            if (!e.startsWith("tick"))
                out << e;
        return out;
    }

private:
    void add(const QString& e) {
        events << e;
        if (onEvent)
            onEvent(e);
    }
};

} // namespace

class WorkerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noDiskOnlyTicks();
    void diskAtStartCountsDownThenTransfers();
    void startPressedShortensCountdown();
    void failureRetriesWithoutCountdown();
    void stopDuringTransferLetsItFinish();
    void stopEndsEveryPauseAtOnce_data();
    void stopEndsEveryPauseAtOnce();
    void presentDiskWaitsForFirstFile();
    void nextFileAlwaysStarts();
    void exceptionEndsLoopAndTellsDialog();
    void restartAfterStop();
    void tooManyDisksHoldTheRun();
    void transferMessageKeepsEveryUnit();

private:
    void startWorker(bool withFile = true);
    void stopWorker();

    FakeDialog dialog_;
    QThread* thread_ = nullptr;
    CUpdateWorker* worker_ = nullptr;
    Recorder* recorder_ = nullptr;
};

void WorkerTest::initTestCase() {
    pacing::testing::setDivisor(20);
    setDialogLink(&dialog_);
}

void WorkerTest::init() {
    diskPresent = false;
    disksWhenPresent = 1;
    nextResult = 0;
    transfers = 0;
    throwInTransfer = false;
    setGate(true);
    dialog_.startCountdownMs = 0;
    dialog_.transferActive = false;
}

void WorkerTest::cleanup() {
    stopWorker();
}

void WorkerTest::startWorker(bool withFile) {
    thread_ = new QThread();
    worker_ = new CUpdateWorker();
    worker_->setDevice(WorkerDevice{fakeConnected, fakeTransfer});
    if (withFile)
        worker_->setFile(QStringLiteral("/fw/VELA_APP.DAT"), 0x500000);
    worker_->moveToThread(thread_);
    recorder_ = new Recorder();
    recorder_->attach(worker_);
    connect(thread_, &QThread::started, worker_, &CUpdateWorker::process);
    thread_->start();
}

void WorkerTest::stopWorker() {
    if (!thread_)
        return;
    setGate(true);
    worker_->stopRequested = true;
    thread_->quit();
    QVERIFY(thread_->wait(20000));
    delete worker_;
    delete thread_;
    delete recorder_;
    thread_ = nullptr;
    worker_ = nullptr;
    recorder_ = nullptr;
}

void WorkerTest::noDiskOnlyTicks() {
    startWorker();
    QTRY_VERIFY(recorder_->events.size() >= 7);
    QCOMPARE(recorder_->events.mid(0, 7),
             QStringList({"tick1", "tick2", "tick3", "tick4", "tick0", "tick1", "tick2"}));
    QVERIFY(recorder_->steps().isEmpty());
}

void WorkerTest::diskAtStartCountsDownThenTransfers() {
    diskPresent = true;
    startWorker();
    QTRY_VERIFY(recorder_->events.contains("inactive"));
    const QStringList expected = {"found", "tick1", "start",  "start", "start",   "start",
                                  "start", "start", "active", "ran0",  "inactive"};
    QCOMPARE(recorder_->events.mid(0, expected.size()), expected);
    QCOMPARE(worker_->state.load(), int(CUpdateWorker::Succeeded));
    QVERIFY(dialog_.transferActive.load());
    // Idle after a success: no further transfer and no polling announcements.
    QTest::qWait(200);
    QCOMPARE(transfers.load(), 1);
    QCOMPARE(recorder_->events.size(), expected.size());
}

void WorkerTest::startPressedShortensCountdown() {
    diskPresent = true;
    startWorker();
    // Pressed on the worker's own thread, right after its first step, so that
    // no further step can slip in between however loaded the machine is.
    static std::atomic<bool> pressed;
    pressed = false;
    connect(
        worker_, &CUpdateWorker::waitingStart, worker_,
        [] {
            if (!pressed.exchange(true))
                dialogLink()->startCountdownMs = 1000; // what the Start button does
        },
        Qt::DirectConnection);
    QTRY_VERIFY(recorder_->events.contains("active"));
    QCOMPARE(recorder_->steps().mid(0, 4), QStringList({"found", "start", "start", "active"}));
}

void WorkerTest::failureRetriesWithoutCountdown() {
    diskPresent = true;
    nextResult = 112;
    startWorker();
    QTRY_VERIFY(recorder_->events.contains("ran112"));
    nextResult = 0;
    diskPresent = false;
    QTRY_VERIFY(recorder_->events.contains("tick0")); // polling again after the pause
    diskPresent = true;
    QTRY_VERIFY(recorder_->events.contains("ran0"));
    QStringList steps = recorder_->steps();
    QCOMPARE(steps.mid(steps.indexOf("ran112")),
             QStringList({"ran112", "inactive", "active", "ran0", "inactive"}));
    QCOMPARE(steps.count("found"), 1);
}

void WorkerTest::stopDuringTransferLetsItFinish() {
    diskPresent = true;
    setGate(false);
    startWorker();
    {
        std::unique_lock<std::mutex> lock(gateLock);
        QVERIFY(gateChanged.wait_for(lock, std::chrono::seconds(20), [] { return inTransfer; }));
    }
    worker_->stopRequested = true;
    QTest::qWait(100);
    QVERIFY(worker_->isRunning());
    setGate(true);
    QTRY_VERIFY(!worker_->isRunning());
    // The announcements reach the recorder queued, possibly after the loop ended.
    QTRY_COMPARE(recorder_->steps().mid(recorder_->steps().indexOf("active")),
                 QStringList({"active", "ran0", "inactive"}));
}

void WorkerTest::stopEndsEveryPauseAtOnce_data() {
    QTest::addColumn<bool>("present");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("event"); // the pause that follows it is stretched
    QTest::newRow("first pause") << false << 0 << "";
    QTest::newRow("waiting for the device") << false << 0 << "tick2";
    QTest::newRow("counting down") << true << 0 << "start";
    QTest::newRow("before the transfer") << true << 0 << "active";
    QTest::newRow("after a failure") << true << 105 << "inactive";
}

// The window may be gone and the process waiting for this loop (and holding
// the single-instance guard) while it pauses: a stop must end any pause at
// once. The pause after the given event is stretched far beyond the wait.
void WorkerTest::stopEndsEveryPauseAtOnce() {
    QFETCH(bool, present);
    QFETCH(int, result);
    QFETCH(QString, event);
    diskPresent = present;
    nextResult = result;
    auto restore = qScopeGuard([] { pacing::testing::setStretch(1); });
    static std::atomic<bool> stretched;
    stretched = event.isEmpty();
    if (event.isEmpty())
        pacing::testing::setStretch(1000000);
    startWorker();
    const auto stretchAfter = [event] {
        return [event](const QString& seen) {
            if (seen == event && !stretched.exchange(true))
                pacing::testing::setStretch(1000000);
        };
    };
    // On the worker's thread, before the pause that follows the event begins.
    const auto on = stretchAfter();
    connect(
        worker_, &CUpdateWorker::waitingTicks, worker_,
        [on](int t) { on(QStringLiteral("tick%1").arg(t)); }, Qt::DirectConnection);
    connect(
        worker_, &CUpdateWorker::waitingStart, worker_, [on] { on("start"); },
        Qt::DirectConnection);
    connect(
        worker_, &CUpdateWorker::downloadActive, worker_, [on] { on("active"); },
        Qt::DirectConnection);
    connect(
        worker_, &CUpdateWorker::downloadInactive, worker_, [on] { on("inactive"); },
        Qt::DirectConnection);
    QTRY_VERIFY_WITH_TIMEOUT(stretched.load(), 20000);
    const int before = transfers.load();
    worker_->stopRequested = true;
    // A stretched pause lasts hours; only a stop that cuts it short ends the loop.
    QTRY_VERIFY_WITH_TIMEOUT(!worker_->isRunning(), 20000);
    QCOMPARE(transfers.load(), before);
}

void WorkerTest::presentDiskWaitsForFirstFile() {
    diskPresent = true;
    startWorker(false);
    QTRY_VERIFY(recorder_->events.size() >= 4);
    QVERIFY(recorder_->steps().isEmpty());
    worker_->setFile(QStringLiteral("/fw/VELA_APP.DAT"), 0x500000);
    QTRY_VERIFY(recorder_->events.contains("found"));
    // Armed by the worker itself before it announced the device.
    QVERIFY(dialog_.startCountdownMs.load() > 0);
}

// A dialog that, like the real one, hands the next file over and stores
// Transferring in its reaction to a success. Over many files, every success
// must lead to the next transfer.
void WorkerTest::nextFileAlwaysStarts() {
    pacing::testing::setDivisor(1000);
    constexpr int kFiles = 300;
    diskPresent = true;
    startWorker();
    int successes = 0;
    recorder_->onEvent = [&](const QString& e) {
        if (e == "ran0" && ++successes < kFiles) {
            worker_->setFile(QStringLiteral("/fw/next"), 0);
            worker_->state.store(CUpdateWorker::Transferring);
        }
    };
    QTRY_VERIFY_WITH_TIMEOUT(successes == kFiles, 60000);
    QCOMPARE(transfers.load(), kFiles);
    pacing::testing::setDivisor(20);
}

void WorkerTest::exceptionEndsLoopAndTellsDialog() {
    diskPresent = true;
    throwInTransfer = true;
    dialog_.startCountdownMs = 0;
    startWorker();
    QTRY_VERIFY(recorder_->events.contains("failed-2"));
    QCOMPARE(worker_->result.load(), -2);
    QVERIFY(!dialog_.transferActive.load());
    QTRY_VERIFY(!worker_->isRunning());
    QVERIFY(!recorder_->events.contains("ran-2"));
}

void WorkerTest::restartAfterStop() {
    startWorker();
    worker_->stopRequested = true;
    QTRY_VERIFY(!worker_->isRunning());
    diskPresent = true;
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { Q_UNUSED(w); }, Qt::BlockingQueuedConnection);
    worker_->restart();
    QTRY_VERIFY(recorder_->events.contains("inactive"));
    QCOMPARE(recorder_->steps().count("found"), 1);
    QCOMPARE(recorder_->steps().count("start"), 6);
}

void WorkerTest::tooManyDisksHoldTheRun() {
    diskPresent = true;
    disksWhenPresent = 17;
    startWorker();
    QTRY_VERIFY(recorder_->events.count("many17") >= 3);
    QCOMPARE(worker_->state.load(), int(CUpdateWorker::WaitingForDevice));
    QVERIFY(!recorder_->events.contains("found"));
    QCOMPARE(transfers.load(), 0);
    disksWhenPresent = 16;
    QTRY_VERIFY(recorder_->events.contains("ran0"));
    QCOMPARE(transfers.load(), 1);
}

// The transfer reports the firmware path and its failures as UTF-16 text; a
// path that begins with U+FEFF or U+FFFE is shown as it is, not read as a
// byte-order mark.
void WorkerTest::transferMessageKeepsEveryUnit() {
    for (const char16_t* text : {u"\uFEFF/fw/VELA_APP.DAT", u"\uFFFE/fw/VELA_APP.DAT"}) {
        reportMessage(text);
        QCOMPARE(dialog_.lastMessage.size(), 17);
        QCOMPARE(dialog_.lastMessage.at(0).unicode(), ushort(text[0]));
        QCOMPARE(dialog_.lastMessage.mid(1), QStringLiteral("/fw/VELA_APP.DAT"));
    }
    reportMessage(nullptr);
    QVERIFY(dialog_.lastMessage.isEmpty());
}

QTEST_GUILESS_MAIN(WorkerTest)
#include "worker_test.moc"
