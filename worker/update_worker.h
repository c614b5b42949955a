// CUpdateWorker drives one update from the wait for the calculator to the
// result of each firmware file. It lives on its own QThread and writes each
// file through the plain transfer call (session/transfer_calls.h); the run it
// drives is the dialog's, whose observer it is: each step's whole result comes
// back to it, and the dialog takes it once when it hears updaterRan. The dialog
// decides which file comes next by writing the worker's fields.
#pragma once

#include "base/mailbox.h"
#include "session/update_run.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <mutex>

class CUpdateWorker : public QObject, public RunObserver {
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
    QStringList missingTold_;  // worker thread only
    // The dialog's count of failed attempts of the current file, as the run
    // last gave it.
    std::atomic<int> retryCount{0};
    // Result of the last file transfer, -2 after an exception in the loop.
    std::atomic<int> result{0};

    // The whole of the file's result that updaterRan announces (each
    // calculator's part, what follows): GUI thread, once per updaterRan, in
    // their order.
    [[nodiscard]] RunStep takeStep();

    // Hands the next file over (GUI thread). The path and offset are taken
    // together under one lock, before the dialog stores Transferring.
    void setFile(const QString& path, std::uint64_t diskOffset);
    // Takes the hand-over back: a new folder is being read (GUI thread).
    void clearFile();
    [[nodiscard]] bool hasFile() const;

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
    // A file's result: its code; the rest of it waits in takeStep().
    void updaterRan(int code);
    // Not one of the loop's announcements: sent once when an exception ends
    // the loop, so that the dialog can end the run instead of waiting forever.
    void loopFailed(int);
    // More update disks than one run may write are connected (their count);
    // the worker keeps waiting until some are unplugged. Sent once more with
    // the new count when no longer more than 16 are connected.
    void tooManyDisks(int);
    // Not one of the loop's announcements either: the share of the current
    // file one calculator has taken (sent from its transfer thread).
    void calculatorProgress(const QString& calculator, int percent);
    // Calculators of the run that have been unplugged after its first write,
    // by name; the worker waits for them before it writes on. Sent again,
    // empty, once every one is back.
    void membersMissing(const QStringList& calculators);

public slots:
    void process();

private:
    // RunObserver, on the transfer threads and the step's thread.
    void progress(const DiskIdentity& calculator, int percent) override;
    void stepEnded(const RunStep& step) override;

    void runPass();
    void waitForDevicePass();
    void countdownPass();
    void transferPass();
    // Decides, under the run lock, whether the loop ends now.
    bool leaveLoop();

    mutable std::mutex fileLock_;
    QString filePath_;
    std::uint64_t diskOffset_ = 0;
    bool hasFile_ = false;
    int lastConnected_ = -1; // worker thread only: the count last logged
    // Worker thread only: the run's step of the last transfer (the run
    // reports it on the thread that transferred), and whether it came.
    RunStep lastStep_;
    bool stepCame_ = false;
    Mailbox<RunStep> announced_; // the steps of updaterRan, not taken yet

    friend struct WorkerTesting;

    mutable std::mutex runLock_;
    bool running_ = false;
    // Set by restart(); the worker thread resets its own fields when it sees it.
    bool restartPending_ = false;
};

// The callbacks handed to the file transfer; callable from any thread.
void reportProgress(int percent);
void reportMessage(const char16_t* text);

namespace worker::testing {
// What the dialog last handed over.
[[nodiscard]] QString filePath(const CUpdateWorker& worker);
[[nodiscard]] std::uint64_t diskOffset(const CUpdateWorker& worker);
} // namespace worker::testing
