// Whole runs of the real dialog and worker against the virtual calculator,
// with the pauses divided so the suite stays fast.
#include "base/pacing.h"
#include "device/disk_discovery.h"
#include "device/disk_table.h"
#include "device/virtual/virtual_calculator.h"
#include "firmware_fixture.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int kDivisor = 25;

// Sizes chosen so that chunks, progress steps and a final part-sector all occur.
QList<FirmwareImage> makeFirmware(const QString& dir) {
    const int sizes[3] = {70001, 40000, 16384 * 3};
    return makeFirmware(dir, sizes);
}

bool calculatorHolds(const QList<FirmwareImage>& images) {
    return std::all_of(images.begin(), images.end(),
                       [](const FirmwareImage& image) { return unitHolds(0, image); });
}

int finishCommands() {
    return virtual_calculator::finishCount(0);
}

} // namespace

class DialogRunTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeRunEndsInDoneAndExit();
    void twoFailuresThenSuccess();
    void sixFailuresEndTheRun();
    void startButtonShortensCountdown();
    void lateClickDoesNotAbort();
    void closeRefusedDuringTransfer();
    void transferFlagHeldAcrossFiles();
    void cancelWhileWaitingAborts();
    void closeWhileWaitingEndsWithZero();
    void browseCancelledChangesNothing();
    void browseAfterFailedScanUpdates();
    void cancelBeforeCountdownShownAborts();
    void releaseLeavesTheWindowFree();
    void doneWithUnfinishedCalculatorStays_data();
    void doneWithUnfinishedCalculatorStays();

private:
    std::unique_ptr<CCalcFWUpdateMSDialog> start(const QString& folder);
    QTemporaryDir firmwareDir_;
    QList<FirmwareImage> images_;
};

void DialogRunTest::initTestCase() {
    pacing::testing::setDivisor(kDivisor);
    QVERIFY(firmwareDir_.isValid());
    images_ = makeFirmware(firmwareDir_.path());
}

void DialogRunTest::init() {
    virtual_calculator::install(virtual_calculator::Options{});
}

void DialogRunTest::cleanup() {
    virtual_calculator::uninstall();
}

std::unique_ptr<CCalcFWUpdateMSDialog> DialogRunTest::start(const QString& folder) {
    auto dialog = std::make_unique<CCalcFWUpdateMSDialog>(folder, 1);
    dialog->show();
    dialog->scanFirmwareFolder();
    return dialog;
}

void DialogRunTest::wholeRunEndsInDoneAndExit() {
    auto dialog = start(firmwareDir_.path());
    QStringList results;
    connect(dialog->worker, &CUpdateWorker::updaterRan, this,
            [&](int) { results << dialog->statusLabel->text(); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(99); });
    QElapsedTimer clock;
    clock.start();
    const int exitCode = QApplication::exec();
    QCOMPARE(exitCode, 0);
    QCOMPARE(results, QStringList({"Update OK (0)", "Update OK (0)", "Done"}));
    QCOMPARE(dialog->statusLabel->text(), QStringLiteral("Done"));
    QVERIFY(dialog->cancelButton->isHidden());
    QVERIFY(dialog->progressBar->isHidden());
    QVERIFY(dialog->fileLabel->text().isEmpty());
    QVERIFY(calculatorHolds(images_));
    QCOMPARE(finishCommands(), 1);
    QVERIFY(!dialog->transferActive.load());
}

void DialogRunTest::twoFailuresThenSuccess() {
    // Writes into the application image fail until the second failure is shown.
    virtual_calculator::refuseWritesAt(0x500000 + 16384);
    auto dialog = start(firmwareDir_.path());
    QStringList results;
    QList<int> retries;
    connect(dialog->worker, &CUpdateWorker::updaterRan, this, [&](int code) {
        results << dialog->statusLabel->text();
        retries << dialog->worker->retryCount.load();
        if (code != 0 && results.size() == 2)
            virtual_calculator::refuseWritesAt(-1);
        if (results.size() == 3)
            dialog->worker->stopRequested = true; // enough: the next file has been handed over
    });
    QTRY_VERIFY_WITH_TIMEOUT(results.size() >= 3, 30000);
    QCOMPARE(results.mid(0, 3), QStringList({"Update failed (112), Retry: 1",
                                             "Update failed (112), Retry: 2", "Update OK (0)"}));
    QCOMPARE(retries.mid(0, 3), QList<int>({1, 2, 0}));
    QCOMPARE(dialog->currentIndex, 1);
}

void DialogRunTest::sixFailuresEndTheRun() {
    virtual_calculator::refuseWritesAt(0x500000);
    auto dialog = start(firmwareDir_.path());
    QStringList results;
    connect(dialog->worker, &CUpdateWorker::updaterRan, this,
            [&](int) { results << dialog->statusLabel->text(); });
    QTRY_VERIFY_WITH_TIMEOUT(results.size() == 6, 60000);
    QStringList expected;
    for (int i = 1; i <= 5; ++i)
        expected << QStringLiteral("Update failed (112), Retry: %1").arg(i);
    expected << "Update failed (112)";
    QCOMPARE(results, expected);
    QVERIFY(dialog->isVisible()); // no automatic exit
    QVERIFY(dialog->cancelButton->isHidden());
    QVERIFY(dialog->progressBar->isHidden());
    QVERIFY2(dialog->spareLabel2->text().contains(": Write Disk File: "),
             qPrintable(dialog->spareLabel2->text()));
    QTRY_COMPARE(finishCommands(), 1); // the release runs on its own thread
    QTRY_VERIFY(!dialog->worker->isRunning());
    dialog->close();
    QVERIFY(!dialog->isVisible());
}

void DialogRunTest::startButtonShortensCountdown() {
    // Steps of 250 ms: the click on the GUI thread lands within the step it
    // was meant for, even on a loaded machine.
    pacing::testing::setDivisor(4);
    auto restore = qScopeGuard([] { pacing::testing::setDivisor(kDivisor); });
    auto dialog = start(firmwareDir_.path());
    int steps = 0;
    QStringList captions;
    connect(dialog->worker, &CUpdateWorker::waitingStart, this, [&] {
        ++steps;
        captions << dialog->cancelButton->text();
        if (steps == 2) {
            QCOMPARE(dialog->statusLabel->text(), QString("Waiting to start") + QChar(0x2026));
            dialog->cancelButton->click();
        }
    });
    int active = 0;
    connect(dialog->worker, &CUpdateWorker::downloadActive, this, [&] { ++active; });
    QTRY_VERIFY_WITH_TIMEOUT(active == 1, 30000);
    QCOMPARE(steps, 3);
    QCOMPARE(captions, QStringList({"Start - 4", "Start - 3", "Start - 3"}));
    dialog->worker->stopRequested = true;
}

void DialogRunTest::lateClickDoesNotAbort() {
    auto dialog = start(firmwareDir_.path());
    bool clicked = false;
    connect(dialog->worker, &CUpdateWorker::downloadActive, this, [&] {
        // The countdown has reached 0: the button must be off, and even a
        // click that arrives now must not abort the transfer.
        QVERIFY(!dialog->cancelButton->isEnabled());
        QMetaObject::invokeMethod(dialog.get(), "onCancel");
        clicked = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(clicked, 30000);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->statusLabel->text() != QLatin1String("Update aborted"));
    QTRY_VERIFY(virtual_calculator::writtenExtent(0) > 0);
    dialog->worker->stopRequested = true;
}

void DialogRunTest::closeRefusedDuringTransfer() {
    auto dialog = start(firmwareDir_.path());
    int attempts = 0;
    bool refused = true;
    connect(dialog.get(), &CCalcFWUpdateMSDialog::updateProgress, this, [&](int) {
        ++attempts;
        dialog->close();
        refused = refused && dialog->isVisible();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        refused = refused && dialog->isVisible();
    });
    QTRY_VERIFY_WITH_TIMEOUT(dialog->statusLabel->text() == "Done", 60000);
    QVERIFY(attempts > 3);
    QVERIFY(refused);
    // Outside a transfer the close button closes the window.
    dialog->close();
    QVERIFY(!dialog->isVisible());
}

// Shared with the transfer thread; plain globals, so that the handler on that
// thread reads nothing but atomics.
namespace handover {
std::atomic<CCalcFWUpdateMSDialog*> dialog{nullptr};
std::atomic<int> successes{0};
std::atomic<bool> secondStarted{false};
std::atomic<bool> inactiveHandled{false};
std::atomic<int> flagDuringSecond{-1};

bool waitUntil(const std::atomic<bool>& flag) {
    QElapsedTimer waited;
    waited.start();
    while (!flag && waited.elapsed() < 5000)
        QThread::msleep(1);
    return flag;
}
} // namespace handover

void DialogRunTest::transferFlagHeldAcrossFiles() {
    // The second file's transfer starts while the first file's downloadInactive
    // is still queued. Arrange exactly that: the GUI thread waits, after
    // onUpdaterRan, until the second transfer runs; the transfer waits until
    // onDownloadInactive has run, then looks at the flag.
    using namespace handover;
    auto dialog = start(firmwareDir_.path());
    handover::dialog = dialog.get();
    connect(dialog->worker, &CUpdateWorker::updaterRan, this, [](int code) {
        if (code == 0 && ++successes == 1)
            waitUntil(secondStarted);
    });
    connect(dialog->worker, &CUpdateWorker::downloadInactive, this, [] { inactiveHandled = true; });
    connect(
        dialog.get(), &CCalcFWUpdateMSDialog::updateProgress, this,
        [](int percent) {
            if (successes != 1 || percent != 0 || secondStarted.exchange(true))
                return;
            waitUntil(inactiveHandled);
            flagDuringSecond = handover::dialog.load()->transferActive.load() ? 1 : 0;
        },
        Qt::DirectConnection);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->statusLabel->text() == "Done", 60000);
    QVERIFY(secondStarted);
    QVERIFY(inactiveHandled);
    QCOMPARE(flagDuringSecond.load(), 1);
}

void DialogRunTest::cancelWhileWaitingAborts() {
    virtual_calculator::setAbsent(true);
    auto dialog = start(firmwareDir_.path());
    QTRY_VERIFY(dialog->statusLabel->text().startsWith("Waiting for connection"));
    dialog->cancelButton->click();
    QCOMPARE(dialog->statusLabel->text(), QStringLiteral("Update aborted"));
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY(!dialog->worker->isRunning());
    QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0));
}

void DialogRunTest::closeWhileWaitingEndsWithZero() {
    virtual_calculator::setAbsent(true);
    auto dialog = start(firmwareDir_.path());
    QTimer::singleShot(300, dialog.get(), [&] { dialog->close(); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0); // the last window closed
    // A close is no abort: the worker was not told to stop, nothing was sent.
    QVERIFY(!dialog->worker->stopRequested.load());
    QCOMPARE(finishCommands(), 0);
}

void DialogRunTest::browseCancelledChangesNothing() {
    QTemporaryDir empty;
    auto dialog = start(empty.path());
    QVERIFY(dialog->browseButton->isVisible());
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            qobject_cast<QDialog*>(modal)->reject();
    });
    dialog->browseButton->click();
    QCOMPARE(dialog->workFolder, empty.path());
    QVERIFY(dialog->fileList.isEmpty());
    QCOMPARE(dialog->statusLabel->text(), QStringLiteral("No updates are available"));
}

void DialogRunTest::browseAfterFailedScanUpdates() {
    virtual_calculator::setAbsent(true);
    QTemporaryDir empty;
    auto dialog = start(empty.path());
    QTRY_VERIFY(!dialog->worker->isRunning());
    const QString good = firmwareDir_.path();
    QTimer::singleShot(0, [good] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(chooser);
        chooser->setDirectory(good);
        QMetaObject::invokeMethod(chooser, "accept");
    });
    dialog->browseButton->click();
    // Everything of the failed scan goes at once, its text with the rest.
    QVERIFY2(dialog->statusLabel->text().isEmpty(), qPrintable(dialog->statusLabel->text()));
    QCOMPARE(QDir(dialog->workFolder), QDir(good));
    QCOMPARE(dialog->fileList.size(), 3);
    QVERIFY(dialog->browseButton->isHidden());
    QVERIFY(dialog->cancelButton->isVisible());
    QVERIFY(dialog->cancelButton->isEnabled());
    QVERIFY(dialog->progressBar->isVisible());
    // Plug the calculator in: the whole update runs.
    QTRY_VERIFY(dialog->statusLabel->text().startsWith("Waiting for connection"));
    virtual_calculator::setAbsent(false);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->statusLabel->text() == "Done", 60000);
    QVERIFY(calculatorHolds(images_));
}

// The worker arms the countdown before the first "Start - N" can be shown; a
// click in that time still reads "Cancel" and must abort, not start writing.
void DialogRunTest::cancelBeforeCountdownShownAborts() {
    auto dialog = start(firmwareDir_.path());
    bool clicked = false;
    connect(dialog->worker, &CUpdateWorker::foundDevice, this, [&] {
        QCOMPARE(dialog->cancelButton->text(), QStringLiteral("Cancel"));
        QVERIFY(dialog->startCountdownMs.load() > 0);
        dialog->cancelButton->click();
        clicked = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(clicked, 30000);
    QCOMPARE(dialog->statusLabel->text(), QStringLiteral("Update aborted"));
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY(!dialog->worker->isRunning());
    QTRY_COMPARE(finishCommands(), 1);
    QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0));
}

namespace {
// Holds the update disks' table, as a release on a slow disk does, until let
// go (or, should the dialog wait for it, after 30 s so that the test ends).
class TableHolder {
public:
    TableHolder() {
        thread_ = std::thread([this] {
            // The table first: the wait below lets go of lock_ alone, so the
            // two are always taken in this order.
            std::lock_guard<std::mutex> table(UpdateDiskTable.lock);
            std::unique_lock<std::mutex> lock(lock_);
            holding_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(30), [this] { return letGo_; });
            holding_ = false;
        });
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait(lock, [this] { return holding_; });
    }
    ~TableHolder() {
        letGo();
        thread_.join();
    }
    bool holding() {
        std::lock_guard<std::mutex> lock(lock_);
        return holding_;
    }
    void letGo() {
        std::lock_guard<std::mutex> lock(lock_);
        letGo_ = true;
        changed_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool holding_ = false;
    bool letGo_ = false;
    std::thread thread_;
};
} // namespace

// The end of a run must not freeze the window while the disks are released:
// with the disk table held elsewhere, the final text shows and the window
// closes at once; the process then waits for the finish command.
void DialogRunTest::releaseLeavesTheWindowFree() {
    QTemporaryDir empty;
    TableHolder holder;
    auto dialog = start(empty.path()); // no updates: the run ends at once
    QVERIFY2(holder.holding(), "the GUI thread waited for the disk table");
    QCOMPARE(dialog->statusLabel->text(), QStringLiteral("No updates are available"));
    QVERIFY(dialog->browseButton->isVisible());
    dialog->close();
    QVERIFY(!dialog->isVisible());
    QVERIFY(holder.holding());
    QCOMPARE(finishCommands(), 0);
    holder.letGo();
    // What main does once the last window has closed.
    dialog->shutdownWorker();
    QCOMPARE(finishCommands(), 1);
}

void DialogRunTest::doneWithUnfinishedCalculatorStays_data() {
    QTest::addColumn<bool>("unplugged");
    QTest::addColumn<QString>("warning");
    QTest::newRow("finish write refused")
        << false << "Warning: the update could not be finished on serial ";
    QTest::newRow("calculator unplugged")
        << true << "Warning: the calculator was disconnected before the update";
}

void DialogRunTest::doneWithUnfinishedCalculatorStays() {
    QFETCH(bool, unplugged);
    QFETCH(QString, warning);
    auto dialog = start(firmwareDir_.path());
    // On the worker's thread, as soon as the last file is written and before
    // the dialog hears of it.
    static std::atomic<int> successes;
    successes = 0;
    connect(
        dialog->worker, &CUpdateWorker::updaterRan, this,
        [unplugged](int code) {
            if (code != 0 || ++successes != 3)
                return;
            if (unplugged)
                virtual_calculator::setAbsent(true);
            else
                virtual_calculator::refuseWritesAt(87040);
        },
        Qt::DirectConnection);
    // Gone before the dialog, so that the release of the dialog's destructor
    // reports to nobody (not to a later test's variables).
    QObject context;
    bool released = false;
    connect(dialog.get(), &CCalcFWUpdateMSDialog::releaseEnded, &context, [&] { released = true; });
    QTRY_VERIFY_WITH_TIMEOUT(released, 60000);
    QCOMPARE(dialog->statusLabel->text(), QStringLiteral("Done"));
    QVERIFY(calculatorHolds(images_));
    QCOMPARE(finishCommands(), 0);
    QVERIFY2(dialog->spareLabel2->text().startsWith(warning),
             qPrintable(dialog->spareLabel2->text()));
    // No automatic exit: the exit timer, had it been armed, would end the
    // loop long before this one.
    QTimer::singleShot(pacing::scaledMs(3000) * 4, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 99);
    QVERIFY(dialog->isVisible());
}

QTEST_MAIN(DialogRunTest)
#include "dialog_run_test.moc"
