// One calculator's update by the engine, on a thread of its own, as the tool
// tells it: what it does goes to the output, named by its calculator, and its
// line to the report once it has ended.
#pragma once

#include "cli/reporter.h"
#include "cli/update_report.h"
#include "session/update_run.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <thread>
#include <vector>

// What the runs of one command share: the set as it was checked, and the
// record of every update.
struct SetToInstall {
    std::vector<RunFile> files;
    QString folder;
    bool manifest = false; // every image matched SHA256SUMS
    UpdateReport report;   // open when --report was given
};

// How a command runs its calculators.
struct RunChoices {
    // Once set, the transfer being written ends after its chunk.
    const std::atomic<bool>* stop = nullptr;
    // A calculator with a serial that is unplugged is waited for this long
    // (install's --wait); 0: its file is tried again in 3 s, five times.
    int waitForReturnMs = 0;
    // A calculator plugged in again is taken again by itself (a station).
    bool takenAgain = false;
};

class CalculatorRun : private RunObserver {
public:
    CalculatorRun(DiskIdentity disk, SetToInstall& set, Reporter& reporter,
                  const RunChoices& choices);
    ~CalculatorRun() override;
    CalculatorRun(const CalculatorRun&) = delete;
    CalculatorRun& operator=(const CalculatorRun&) = delete;

    [[nodiscard]] bool ended() const { return ended_.load(); }
    [[nodiscard]] const DiskIdentity& disk() const { return disk_; }
    // After ended(): joins and gives its line of the summary.
    [[nodiscard]] SummaryRow row();
    // Told to stop: left incomplete.
    [[nodiscard]] bool stopped();

private:
    // RunObserver, on the run's thread (progress on the transfer's).
    void stepEnded(const RunStep& step) override;
    void fileStarted(const DiskIdentity& disk, const RunFile& file) override;
    void progress(const DiskIdentity& disk, int percent) override;
    void fileEnded(const DiskIdentity& disk, const RunFile& file, ResultCode code,
                   const std::u16string& cause) override;
    void retrying(const DiskIdentity& disk, ResultCode code, int attempt) override;
    void waiting(const DiskIdentity& disk, bool back) override;
    void finished(const DiskIdentity& disk, ResultCode code, const std::u16string& cause) override;

    // Every file written and the finish command sent: the engine's word.
    [[nodiscard]] bool updated() const { return result_.result == kResultOk; }
    // The files held so far, by the engine's last transfer.
    [[nodiscard]] int filesHeld() const;
    [[nodiscard]] QString imageResult(std::size_t image) const;
    // What to do after the run, when it did not update the calculator.
    [[nodiscard]] QString next() const;
    [[nodiscard]] QString reportLine() const;
    void join();

    DiskIdentity disk_;
    SetToInstall& set_;
    Reporter& reporter_;
    RunChoices choices_;
    UpdateRun run_;
    QString started_;
    QElapsedTimer clock_;
    // What the engine told, on the run's thread.
    struct Told {
        RunStep transfer; // the last transfer's step
        Failure finishFailure = Failure::None;
    } told_;
    // Written by the run's thread, read after it is joined.
    RunSummary result_;
    double seconds_ = 0;
    QString unrecorded_; // why its line is not in the report
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

// A calculator's name as the tool shows it: its serial, or its port.
[[nodiscard]] QString nameOf(const DiskIdentity& disk);
// What tells two calculators apart, also two without a serial.
[[nodiscard]] QString keyOf(const DiskIdentity& disk);
