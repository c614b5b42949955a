// One update run, one set of calculators. The calculators of a run are those
// its first file transfer set out to write; later files, their retries and the
// finish command go to them alone, so that a disk plugged in mid-run never
// receives half an update. The release at the end of the run ends it.
//
// Below the run sit transfers and releases aimed at named calculators, with a
// result for each, for callers that keep their own sessions.
#pragma once

#include "device/calculator_holds.h"
#include "device/disk_identity.h"
#include "device/update_disk.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Which calculators an operation is aimed at.
struct DiskSelection {
    // Every update disk present when the operation starts (a new run).
    bool everyPresent = true;
    // Otherwise exactly these; one that is not connected fails the operation.
    std::vector<DiskIdentity> disks;
    // The run on whose behalf the calculators are written: its holds are kept
    // and taken here. Null: held for this one operation only.
    CalculatorHolds* holds = nullptr;

    [[nodiscard]] static DiskSelection allPresent(CalculatorHolds* holds = nullptr) {
        return {true, {}, holds};
    }
    [[nodiscard]] static DiskSelection only(std::vector<DiskIdentity> disks,
                                            CalculatorHolds* holds = nullptr) {
        return {false, std::move(disks), holds};
    }
};

struct TransferReport {
    ResultCode result = kResultOk; // the first non-zero of `disks`, or why none was tried
    std::u16string cause;          // of result; empty on success
    // One entry per calculator tried, in listing order, then one with 104 per
    // calculator named but not connected (a transfer then tries none).
    std::vector<DiskOutcome> disks;
    // Update disks that were connected but not aimed at: left alone.
    std::vector<DiskIdentity> leftAlone;
};

// Writes the file onto the selected calculators, one thread each. Waits, as
// discovery does, up to six scans for them. Writes nothing when more than 16
// update disks are connected or when a named calculator is missing (104).
[[nodiscard]] TransferReport transferFile(const DiskSelection& targets, const char16_t* vendor,
                                          const char16_t* product, const char16_t* filePath,
                                          std::uint64_t diskOffset, ProgressCallback progress,
                                          MessageCallback message);

// Who a transfer's reports concern, for callers that keep a session per
// calculator. Called from the transfer threads, one per calculator, so the
// receiver must be safe to call from several threads at once.
struct TransferObserver {
    std::function<void(const DiskIdentity& disk, int percent)> progress;
    std::function<void(const DiskIdentity& disk, const std::u16string& text)> message;
    // When set, each transfer thread ends after the chunk it is writing with
    // kResultStopped: the calculator is left incomplete.
    const std::atomic<bool>* stop = nullptr;
};

// transferFile for a session of its own: the disks are found, opened and
// written through a table of this call alone, so transfers to different
// calculators run at the same time and never wait for one another; progress
// and messages name their calculator. Only the calculators aimed at count
// towards the limit of 16, as nothing else is written by this call.
[[nodiscard]] TransferReport transferToCalculators(const DiskSelection& targets,
                                                   const char16_t* vendor, const char16_t* product,
                                                   const char16_t* filePath,
                                                   std::uint64_t diskOffset,
                                                   const TransferObserver& observer);

// releaseDisks for a session of its own, through a table of this call alone.
[[nodiscard]] TransferReport releaseCalculators(const DiskSelection& targets,
                                                const char16_t* vendor, const char16_t* product);

// The finish command to the selected calculators (to the first 16 when every
// present one is selected): 107 when one cannot be opened, 112 when the
// command cannot be written, 104 for one not connected.
[[nodiscard]] TransferReport releaseDisks(const DiskSelection& targets, const char16_t* vendor,
                                          const char16_t* product);

// runFileTransfer with its cause and a result per calculator: the current run's
// calculators, or every one present when the run has not begun (it begins here).
[[nodiscard]] TransferReport transferInUpdateRun(const char16_t* vendor, const char16_t* product,
                                                 const char16_t* filePath, std::uint64_t diskOffset,
                                                 ProgressCallback progress,
                                                 MessageCallback message);

// The same, with each progress report and message naming its calculator, for
// a caller that shows every calculator of the run as well as the run as a
// whole. The observer's stop flag is not honoured here: a file of the run is
// always written whole.
[[nodiscard]] TransferReport transferInUpdateRun(const char16_t* vendor, const char16_t* product,
                                                 const char16_t* filePath, std::uint64_t diskOffset,
                                                 const TransferObserver& observer);

// What one calculator's failure is shown as: its cause, led by the name of the
// calculator unless the cause already names it (one that is not connected).
[[nodiscard]] std::u16string describeOutcome(const DiskOutcome& outcome);

// releaseUpdateDisks with a result per calculator.
[[nodiscard]] TransferReport releaseUpdateRun(const char16_t* vendor, const char16_t* product);

// The calculators of the current run. Begun by the first transfer that set
// out to write, ended by the release. Safe from any thread.
class UpdateRunSet {
public:
    [[nodiscard]] bool begun() const;
    [[nodiscard]] std::vector<DiskIdentity> members() const;
    // Update disks seen during the run that are not members, oldest first.
    [[nodiscard]] std::vector<DiskIdentity> leftAlone() const;
    void begin(std::vector<DiskIdentity> members);
    void noteLeftAlone(const std::vector<DiskIdentity>& disks);
    // Ends the run and lets go of its calculators.
    void end();
    // The calculators the run holds from its first write to its release.
    [[nodiscard]] CalculatorHolds& holds() { return holds_; }

private:
    CalculatorHolds holds_;
    mutable std::mutex lock_;
    bool begun_ = false;
    std::vector<DiskIdentity> members_;
    std::vector<DiskIdentity> leftAlone_;
};

// The run that runFileTransfer and releaseUpdateDisks keep.
[[nodiscard]] UpdateRunSet& currentUpdateRun();
