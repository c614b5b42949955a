// The worker's announcements under the situations a run goes through,
// against the virtual calculator. The pauses are divided so that a six-second
// countdown takes a fraction of that.
#include "base/pacing.h"
#include "device/virtual/virtual_calculator.h"
#include "session/update_run.h"
#include "worker/dialog_link.h"
#include "worker/update_worker.h"

#include <QTemporaryDir>

#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <stdexcept>

namespace {

class FakeDialog : public DialogLink {
public:
    // Written by every calculator's transfer thread at once.
    std::mutex messageLock;
    QString lastMessage; // under messageLock
    // Told to stop at the first progress report: in the middle of a transfer.
    std::atomic<CUpdateWorker*> stopAtProgress{nullptr};
    void raiseUpdateProgress(int) override {
        if (CUpdateWorker* worker = stopAtProgress.exchange(nullptr))
            worker->stopRequested = true;
    }
    void raiseUpdateMessage(const QString& text) override {
        std::lock_guard<std::mutex> hold(messageLock);
        lastMessage = text;
    }
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
    // A run of `files` copies of the image, each at its own offset (the
    // first at 0x500000).
    void startWorker(bool withFile = true, int files = 1);
    void stopWorker();
    void calculator(const char* options);

    QTemporaryDir dir_;
    QString image_; // the one file of the run
    FakeDialog dialog_;
    UpdateRun run_;
    QThread* thread_ = nullptr;
    CUpdateWorker* worker_ = nullptr;
    Recorder* recorder_ = nullptr;
};

void WorkerTest::initTestCase() {
    pacing::testing::setDivisor(20);
    setDialogLink(&dialog_);
    image_ = dir_.path() + QStringLiteral("/VELA_APP.DAT");
    QFile file(image_);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(20000, 'v'));
}

void WorkerTest::init() {
    calculator("absent=1");
    dialog_.startCountdownMs = 0;
    dialog_.transferActive = false;
    dialog_.stopAtProgress = nullptr;
}

void WorkerTest::cleanup() {
    stopWorker();
    virtual_calculator::uninstall();
}

void WorkerTest::calculator(const char* text) {
    virtual_calculator::Options options;
    std::string error;
    QVERIFY(virtual_calculator::parseOptions(text, options, error));
    virtual_calculator::install(options);
}

namespace {
std::uint64_t offsetOf(int file) {
    return 0x500000 + static_cast<std::uint64_t>(file) * 0x8000;
}
} // namespace

void WorkerTest::startWorker(bool withFile, int files) {
    thread_ = new QThread();
    worker_ = new CUpdateWorker();
    // The dialog's run, with the worker as its observer.
    std::vector<RunFile> set;
    for (int i = 0; i < files; ++i)
        set.push_back({image_.toStdU16String(), u"VELA_APP.DAT", offsetOf(i), 20000});
    run_.begin(set, worker_);
    if (withFile)
        worker_->setFile(image_, 0x500000);
    worker_->moveToThread(thread_);
    recorder_ = new Recorder();
    recorder_->attach(worker_);
    connect(thread_, &QThread::started, worker_, &CUpdateWorker::process);
    thread_->start();
}

void WorkerTest::stopWorker() {
    if (!thread_)
        return;
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
    calculator("units=1");
    startWorker();
    QTRY_VERIFY(recorder_->events.contains("inactive"));
    const QStringList expected = {"found", "tick1", "start",  "start", "start",   "start",
                                  "start", "start", "active", "ran0",  "inactive"};
    QCOMPARE(recorder_->events.mid(0, expected.size()), expected);
    QCOMPARE(worker_->state.load(), int(CUpdateWorker::Succeeded));
    QVERIFY(dialog_.transferActive.load());
    // Idle after a success: no further transfer and no polling announcements.
    QTest::qWait(200);
    QCOMPARE(recorder_->events.size(), expected.size());
}

void WorkerTest::startPressedShortensCountdown() {
    calculator("units=1");
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
    calculator("units=1,refuse_write_at=0x500000");
    startWorker();
    QTRY_VERIFY(recorder_->events.contains("ran112"));
    virtual_calculator::refuseWritesAt(-1);
    virtual_calculator::setAbsent(true);
    QTRY_VERIFY(recorder_->events.contains("tick0")); // polling again after the pause
    virtual_calculator::setAbsent(false);
    QTRY_VERIFY(recorder_->events.contains("ran0"));
    QStringList steps = recorder_->steps();
    QCOMPARE(steps.mid(steps.indexOf("ran112")),
             QStringList({"ran112", "inactive", "active", "ran0", "inactive"}));
    QCOMPARE(steps.count("found"), 1);
}

void WorkerTest::stopDuringTransferLetsItFinish() {
    calculator("units=1");
    startWorker();
    dialog_.stopAtProgress = worker_;
    QTRY_VERIFY(recorder_->events.contains("inactive"));
    QTRY_VERIFY(!worker_->isRunning());
    QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0x500000 + 20480));
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
    QTest::newRow("after a failure") << true << 107 << "inactive";
}

// The window may be gone and the process waiting for this loop (and holding
// the single-instance guard) while it pauses: a stop must end any pause at
// once. The pause after the given event is stretched far beyond the wait.
void WorkerTest::stopEndsEveryPauseAtOnce() {
    QFETCH(bool, present);
    QFETCH(int, result);
    QFETCH(QString, event);
    calculator(!present ? "absent=1" : result == 107 ? "units=1,unopenable=0" : "units=1");
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
    const int before = recorder_->events.count("active");
    worker_->stopRequested = true;
    // A stretched pause lasts hours; only a stop that cuts it short ends the loop.
    QTRY_VERIFY_WITH_TIMEOUT(!worker_->isRunning(), 20000);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(recorder_->events.count("active"), before);
}

void WorkerTest::presentDiskWaitsForFirstFile() {
    calculator("units=1");
    startWorker(false);
    QTRY_VERIFY(recorder_->events.size() >= 4);
    QVERIFY(recorder_->steps().isEmpty());
    worker_->setFile(image_, 0x500000);
    QTRY_VERIFY(recorder_->events.contains("found"));
    // Armed by the worker itself before it announced the device.
    QVERIFY(dialog_.startCountdownMs.load() > 0);
}

// A dialog that, like the real one, hands the next file over and stores
// Transferring in its reaction to a success. Over many files, every success
// must lead to the next transfer.
void WorkerTest::nextFileAlwaysStarts() {
    pacing::testing::setDivisor(1000);
    auto restore = qScopeGuard([] { pacing::testing::setDivisor(20); });
    constexpr int kFiles = 100;
    calculator("units=1");
    startWorker(true, kFiles);
    int successes = 0;
    recorder_->onEvent = [&](const QString& e) {
        if (e == "ran0" && ++successes < kFiles) {
            worker_->setFile(image_, offsetOf(successes));
            worker_->state.store(CUpdateWorker::Transferring);
        }
    };
    QTRY_VERIFY_WITH_TIMEOUT(successes == kFiles, 60000);
}

void WorkerTest::exceptionEndsLoopAndTellsDialog() {
    calculator("units=1");
    startWorker();
    // Something on the worker's thread throws as the transfer begins.
    connect(
        worker_, &CUpdateWorker::downloadActive, worker_,
        [] { throw std::runtime_error("broken transfer"); }, Qt::DirectConnection);
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
    virtual_calculator::setAbsent(false);
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { Q_UNUSED(w); }, Qt::BlockingQueuedConnection);
    worker_->restart();
    QTRY_VERIFY(recorder_->events.contains("inactive"));
    QCOMPARE(recorder_->steps().count("found"), 1);
    QCOMPARE(recorder_->steps().count("start"), 6);
}

void WorkerTest::tooManyDisksHoldTheRun() {
    calculator("units=17");
    startWorker();
    QTRY_VERIFY(recorder_->events.count("many17") >= 3);
    QCOMPARE(worker_->state.load(), int(CUpdateWorker::WaitingForDevice));
    QVERIFY(!recorder_->events.contains("found"));
    // One unplugged: said once more, then the run goes on.
    virtual_calculator::setPluggedIn(16, false);
    QTRY_VERIFY(recorder_->events.contains("ran0"));
    QCOMPARE(recorder_->events.count("many16"), 1);
    QCOMPARE(recorder_->events.count("active"), 1);
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
