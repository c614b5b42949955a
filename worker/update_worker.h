// CUpdateWorker drives one update from the wait for the calculator to the
// result of each firmware file. It lives on its own QThread; the dialog
// decides which file comes next by writing the worker's fields.
#pragma once

#include "device/update_disk.h"
#include "device/update_run.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <mutex>

// How the worker reaches the device. The product uses the real discovery and
// transfer; tests substitute their own.
// What one file's transfer came to: its result code and, on failure, why.
struct TransferOutcome {
    ResultCode code = kResultOk;
    std::u16string cause;
    // What each calculator of the run made of the file; empty when none was
    // tried (no disk, too many, a path too long).
    std::vector<DiskOutcome> disks;
    // Connected during the run, not of it: not written.
    std::vector<DiskIdentity> leftAlone;
};

struct WorkerDevice {
    // Update disks connected now; more than 16 hold the run back.
    int (*connected)();
    // The observer names the calculator of each progress report and message;
    // it is called on the transfer threads.
    TransferOutcome (*transfer)(const char16_t* path, std::uint64_t diskOffset,
                                const TransferObserver& observer);
};
[[nodiscard]] WorkerDevice realWorkerDevice();

// One calculator's part in a file's transfer, as the dialog lists it.
struct CalculatorResult {
    QString calculator; // describeDisk: "serial 0001"
    int code = kResultOk;
    QString cause;          // why it failed, led by its name; empty on success
    bool leftAlone = false; // connected during the run and not written
};
using CalculatorResults = QVector<CalculatorResult>;

class CUpdateWorker : public QObject {
    Q_OBJECT
public:
    enum State : int {
        WaitingForDevice = 0,
        StartCountdown = 1,
        Transferring = 2,
        Succeeded = 3,
        Failed = 4,
    };

    CUpdateWorker();
    ~CUpdateWorker() override;

    // Written by the worker thread only.
    bool downloadBegun = false;
    // Set by the GUI thread; the loop ends at the top of its next pass.
    std::atomic<bool> stopRequested{false};
    // Written by both threads: by the worker as it moves on, by the dialog
    // (Transferring) for the next file. The worker stores Succeeded or Failed
    // before it announces a result, so the dialog's later store always wins.
    std::atomic<int> state{WaitingForDevice};
    int tick = 0;              // worker thread only
    bool tooManyTold_ = false; // worker thread only
    // The dialog's count of failed attempts of the current file.
    std::atomic<int> retryCount{0};
    // Result of the last file transfer, -2 after an exception in the loop.
    std::atomic<int> result{0};
    // Why the last file transfer failed (empty after a success). Stored by
    // the worker before it announces the result.
    [[nodiscard]] QString failureCause() const;
    // What each calculator of the run made of the last file. Handed over under
    // the worker's lock rather than as a queued argument, so that the GUI
    // thread reads it only after the worker has finished writing it.
    [[nodiscard]] CalculatorResults calculatorResults() const;

    // Hands the next file over (GUI thread). The path and offset are taken
    // together under one lock, before the dialog stores Transferring.
    void setFile(const QString& path, std::uint64_t diskOffset);
    [[nodiscard]] QString filePath() const;
    [[nodiscard]] std::uint64_t diskOffset() const;
    [[nodiscard]] bool hasFile() const;

    // Tests: the device the worker polls and writes to.
    void setDevice(WorkerDevice device) { device_ = device; }

    // GUI thread: a stopped worker is made ready for a new run and its loop
    // started again on the worker thread. Fields go back to their first
    // values; the file hand-over is kept.
    void restart();
    // True while process() runs or is about to run.
    [[nodiscard]] bool isRunning() const;

signals:
    void finished();
    void foundDevice();
    void waitingStart();
    void downloadActive();
    void downloadInactive();
    void waitingTicks(int);
    void updaterRan(int);
    // Not one of the loop's announcements: sent once when an exception ends
    // the loop, so that the dialog can end the run instead of waiting forever.
    void loopFailed(int);
    // More update disks than one run may write are connected (their count);
    // the worker keeps waiting until some are unplugged. Sent once more with
    // the new count when no longer more than 16 are connected.
    void tooManyDisks(int);
    // Not one of the loop's announcements either, and sent only by the real
    // transfer's calculators: the share of the current file one calculator
    // has taken (from its transfer thread), and, just before updaterRan, that
    // calculatorResults() holds what each calculator made of the file.
    void calculatorProgress(const QString& calculator, int percent);
    void calculatorsRan();

public slots:
    void process();

private:
    void runPass();
    void waitForDevicePass();
    void countdownPass();
    void transferPass();
    // Decides, under the run lock, whether the loop ends now.
    bool leaveLoop();

    WorkerDevice device_;
    mutable std::mutex fileLock_;
    QString filePath_;
    std::uint64_t diskOffset_ = 0;
    bool hasFile_ = false;
    QString failureCause_;                // under fileLock_
    CalculatorResults calculatorResults_; // under fileLock_

    mutable std::mutex runLock_;
    bool running_ = false;
    // Set by restart(); the worker thread resets its own fields when it sees it.
    bool restartPending_ = false;
};

// The callbacks handed to the file transfer; callable from any thread.
void reportProgress(int percent);
void reportMessage(const char16_t* text);
