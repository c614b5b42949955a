// The device layer's operations over a set of calculators: find them, write
// one file onto them (one transfer thread each), send them the finish command.
#include "device/calculators.h"

#include "base/pacing.h"
#include "base/utf16_text.h"
#include "device/calculator_holds.h"
#include "device/control_sector.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/disk_table.h"
#include "device/file_transfer.h"
#include "device/phrases.h"

#include <algorithm>
#include <cstdio>

static_assert(kMaxCalculators == kMaxUpdateDisks, "a run takes one table entry per calculator");

const char16_t updateVendorId[] = u"Orvane";
const char16_t updateProductId[] = u"Vela update";

DiskTable UpdateDiskTable;

namespace {

// A few words for the log.
std::string describe(ResultCode code) {
    switch (code) {
    case kResultOk:
        return "ok";
    case kResultFileOpen:
        return "file cannot be opened";
    case kResultDiskOpen:
        return "disk cannot be opened";
    case kResultFileRead:
        return "reading the file failed";
    case kResultNoBuffer:
        return "no chunk buffer";
    case kResultWrite:
        return "writing failed seven times";
    case kResultStopped:
        return "stopped between two chunks";
    default:
        return "code " + std::to_string(code);
    }
}

// The calculators an operation aims at, as one scan found them.
struct Targets {
    std::vector<FoundDisk> aimed; // in listing order
    std::vector<DiskIdentity> missing;
    std::vector<DiskIdentity> leftAlone;
    std::size_t connected = 0;
};

Targets classify(std::vector<FoundDisk> found, const CalculatorSet& set) {
    Targets targets;
    targets.connected = found.size();
    if (set.everyPresent) {
        targets.aimed = std::move(found);
        return targets;
    }
    // Each member takes one disk, so that two members never share one.
    std::vector<bool> taken(set.members.size(), false);
    for (FoundDisk& disk : found) {
        bool member = false;
        for (std::size_t i = 0; i < set.members.size() && !member; ++i) {
            if (!taken[i] && set.members[i] == disk.check.identity)
                taken[i] = member = true;
        }
        if (member)
            targets.aimed.push_back(std::move(disk));
        else
            targets.leftAlone.push_back(disk.check.identity);
    }
    for (std::size_t i = 0; i < set.members.size(); ++i) {
        if (!taken[i])
            targets.missing.push_back(set.members[i]);
    }
    return targets;
}

// Up to six scans, 500 ms apart (after every one that came short): until any
// calculator is present (a new run), or until every member is.
Targets waitForTargets(const CalculatorSet& set) {
    Targets targets;
    for (int attempt = 1; attempt <= kDiscoveryAttempts; ++attempt) {
        targets = classify(scanUpdateDisks(updateVendorId, updateProductId), set);
        const bool complete = set.everyPresent ? !targets.aimed.empty() : targets.missing.empty();
        if (complete) {
            deviceLog("discovery: " + std::to_string(targets.aimed.size()) +
                      " update disk(s) aimed at on attempt " + std::to_string(attempt));
            for (const FoundDisk& disk : targets.aimed)
                deviceLog("discovery:   " + toUtf8(disk.path));
            break;
        }
        pacing::pauseMs(kDiscoveryPauseMs);
    }
    for (const DiskIdentity& identity : targets.leftAlone)
        deviceLog("discovery: left alone, not of this run: " + toUtf8(describeDisk(identity)));
    for (const DiskIdentity& identity : targets.missing)
        deviceLog("discovery: not connected: " + toUtf8(describeDisk(identity)));
    return targets;
}

// A calculator of the run that is gone: one with a serial may come back, one
// without cannot be told again.
CalculatorOutcome disconnected(const DiskIdentity& identity) {
    if (identity.hasSerial())
        return {identity, kResultNoDisk, phrase(Phrase::NotConnected, {describeDisk(identity)}),
                Failure::Disconnected};
    return {identity, kResultNoDisk, disconnectedWithoutSerialText(identity),
            Failure::DisconnectedNoSerial};
}

// The result is its first failure; its cause names the calculator, since the
// one line the dialog shows speaks for all of them.
void settle(DeviceResult& result) {
    for (const CalculatorOutcome& outcome : result.calculators) {
        if (outcome.code != kResultOk) {
            result.code = outcome.code;
            result.cause = describeOutcome(outcome);
            result.failure = outcome.failure;
            return;
        }
    }
}

std::u16string tooManyText(std::size_t connected) {
    return phrase(Phrase::TooMany, {toUtf16(std::to_string(connected))});
}

// One operation's hold on its table and on the calculators it may write, from
// the scan to the close of their disks: what a transfer and a finish command
// share. The table's lock is held for the whole of it.
class OpenedTargets {
public:
    // What is counted against the 16 a table holds: for a write, what the set
    // says; for the finish command, only the calculators it goes to.
    enum class Count { AsTheSetSays, AimedOnly };

    OpenedTargets(const CalculatorSet& set, Count count, DeviceResult& result)
        : table_(set.table ? *set.table : UpdateDiskTable), guard_(table_.lock) {
        const Targets found = waitForTargets(set);
        result.leftAlone = found.leftAlone;
        // The table holds 16, and a 17th calculator would silently be left
        // half updated: with more counted, nothing is written at all. Nor
        // does a run that wrote nothing pick 16 of more for its finish command.
        const std::size_t counted = count == Count::AsTheSetSays && set.strangersCount
                                        ? found.connected
                                        : found.aimed.size();
        if (counted > static_cast<std::size_t>(kMaxCalculators)) {
            result.code = kResultNoDisk;
            result.cause = tooManyText(counted);
            result.failure = Failure::TooMany;
            if (count == Count::AimedOnly) {
                for (const FoundDisk& disk : found.aimed)
                    result.leftAlone.push_back(disk.check.identity);
            }
            deviceLog("table: " + toUtf8(result.cause));
            return;
        }
        if (found.aimed.empty() && found.missing.empty()) {
            result.code = kResultNoDisk;
            result.cause = phrase(Phrase::NoDisk);
            result.failure = Failure::NoCalculator;
            return;
        }
        // A set without holds of its own holds its calculators while this
        // operation lasts: never one another updater is updating.
        CalculatorHolds& holds = set.holds ? *set.holds : ownHolds_;
        for (const FoundDisk& disk : found.aimed) {
            CalculatorOutcome outcome = claimCalculator(holds, disk.path, disk.check);
            if (outcome.code == kResultOk)
                disks_.push_back(disk);
            else
                result.calculators.push_back(std::move(outcome));
        }
        missing_ = found.missing;
        table_.count = static_cast<std::int32_t>(disks_.size());
        for (std::size_t i = 0; i < disks_.size(); ++i) {
            const std::u16string& path = disks_[i].path;
            std::copy(path.begin(), path.end(), table_.paths[i]);
            table_.paths[i][path.size()] = 0;
            table_.checked[i] = disks_[i].check;
            diskio::OpenResult opened =
                diskio::activeDiskSource().openDisk(table_.paths[i], table_.checked[i]);
            table_.handles[i] = std::move(opened.io);
            table_.openFailure[i] = std::move(opened);
            if (!table_.handles[i])
                deviceLog("open: " + toUtf8(table_.paths[i]) + ": " +
                          toUtf8(table_.openFailure[i].failureText));
        }
        proceed_ = true;
    }
    ~OpenedTargets() {
        for (int i = 0; i < table_.count; ++i)
            table_.handles[i].reset();
    }
    OpenedTargets(const OpenedTargets&) = delete;
    OpenedTargets& operator=(const OpenedTargets&) = delete;

    // False when nothing may be done at all (the result says why).
    [[nodiscard]] bool proceed() const { return proceed_; }
    [[nodiscard]] DiskTable& table() { return table_; }
    // The calculators of table entries 0..count-1.
    [[nodiscard]] const std::vector<FoundDisk>& disks() const { return disks_; }
    // Members of the set not connected: each fails alone.
    void reportMissing(DeviceResult& result) const {
        for (const DiskIdentity& identity : missing_)
            result.calculators.push_back(disconnected(identity));
    }

private:
    DiskTable& table_;
    std::lock_guard<std::mutex> guard_;
    CalculatorHolds ownHolds_;
    std::vector<FoundDisk> disks_;
    std::vector<DiskIdentity> missing_;
    bool proceed_ = false;
};

// What the thread said, with where: "VELA_MAIN.DAT at 0x104000: Write Disk File: ...".
std::u16string inContext(const FileToWrite& file, const TransferJob& job) {
    if (job.failedAt == kNoPosition)
        return job.cause;
    char at[32];
    std::snprintf(at, sizeof at, "%llX", static_cast<unsigned long long>(job.failedAt));
    return phrase(Phrase::AtPosition, {file.name, toUtf16(at), job.cause});
}

// A write or an open that failed because the calculator was unplugged says
// so: it is gone now, or back as another device (plugged in again).
void nameTheDisconnected(std::vector<CalculatorOutcome>& outcomes,
                         const std::vector<FoundDisk>& disks) {
    const auto mayHaveLeft = [](const CalculatorOutcome& outcome) {
        return outcome.code == kResultWrite || outcome.code == kResultDiskOpen;
    };
    if (std::none_of(outcomes.begin(), outcomes.end(), mayHaveLeft))
        return;
    const std::vector<FoundDisk> now = scanUpdateDisks(updateVendorId, updateProductId);
    for (std::size_t i = 0; i < outcomes.size() && i < disks.size(); ++i) {
        if (!mayHaveLeft(outcomes[i]))
            continue;
        const DiskIdentity& was = disks[i].check.identity;
        const bool stayed = std::any_of(now.begin(), now.end(), [&was](const FoundDisk& disk) {
            const DiskIdentity& is = disk.check.identity;
            return is == was && is.deviceNumber == was.deviceNumber &&
                   is.diskSequence == was.diskSequence;
        });
        if (!stayed) {
            deviceLog("transfer: " + toUtf8(describeDisk(was)) + " left while it was written");
            outcomes[i] = disconnected(was);
            outcomes[i].reached = true;
        }
    }
}

} // namespace

std::shared_ptr<DiskTable> newDiskTable() {
    return std::make_shared<DiskTable>();
}

std::vector<FoundCalculator> findCalculators() {
    std::vector<FoundCalculator> found;
    for (FoundDisk& disk : scanUpdateDisks(updateVendorId, updateProductId))
        found.push_back({std::move(disk.path), std::move(disk.check.identity)});
    return found;
}

std::u16string whyNotWritable(const FoundCalculator& calculator) {
    diskio::DiskCheck check;
    check.isUpdateDisk = true;
    check.identity = calculator.identity;
    // Opened and closed again at once: nothing is read or written.
    return diskio::activeDiskSource().openDisk(calculator.path, check).failureText;
}

std::u16string describeOutcome(const CalculatorOutcome& outcome) {
    const std::u16string name = describeDisk(outcome.identity);
    return outcome.cause.find(name) != std::u16string::npos ? outcome.cause
                                                            : name + u": " + outcome.cause;
}

DeviceResult writeFile(const CalculatorSet& set, const FileToWrite& file,
                       const TransferObserver& observer) {
    DeviceResult result;
    // The path fields hold 260 units; a longer path would be cut to another
    // file's name. Checked before anything else.
    if (file.path.size() > static_cast<std::size_t>(kMaxTransferPath)) {
        result.code = kResultPathTooLong;
        result.cause = phrase(Phrase::PathTooLong);
        result.failure = Failure::PathTooLong;
        deviceLog("transfer: firmware path longer than 260 UTF-16 units refused");
        return result;
    }
    OpenedTargets targets(set, OpenedTargets::Count::AsTheSetSays, result);
    if (!targets.proceed())
        return result;
    DiskTable& table = targets.table();

    FileTransferParams params;
    params.diskOffset = file.diskOffset;
    params.fileOffset = 0;
    std::copy(file.path.begin(), file.path.end(), params.filePath);
    std::copy(file.path.begin(), file.path.end(), params.displayText);

    std::vector<TransferJob> jobs(static_cast<std::size_t>(table.count));
    std::vector<std::function<int()>> threads;
    for (int i = 0; i < table.count; ++i) {
        TransferJob& job = jobs[static_cast<std::size_t>(i)];
        job.disk = table.handles[i].get();
        job.params = &params;
        job.checked = &file;
        job.opened.failureText = table.openFailure[i].failureText;
        job.opened.refusal = table.openFailure[i].refusal;
        job.identity = targets.disks()[static_cast<std::size_t>(i)].check.identity;
        job.observer = &observer;
        threads.emplace_back([&job] { return transferThread(job); });
    }
    const std::vector<diskio::ThreadOutcome> outcomes = diskio::runTransferThreads(threads);

    // A disk whose thread never ran, or whose exit code cannot be read, has
    // nothing to show that the file arrived: only 0 counts as written.
    std::vector<CalculatorOutcome> written;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const diskio::ThreadOutcome& outcome = outcomes[i];
        TransferJob& job = jobs[i];
        const ResultCode code = outcome.haveCode ? outcome.code : kResultNoThread;
        if (!outcome.haveCode) {
            job.kind = Failure::NoResources;
            job.cause = phrase(outcome.started ? Phrase::NoExitCode : Phrase::NoThread);
        }
        deviceLog("transfer: disk " + std::to_string(i) + ": " + describe(code));
        written.push_back({job.identity, code,
                           code == kResultOk ? std::u16string() : inContext(file, job),
                           code == kResultOk ? Failure::None : job.kind, true});
    }
    nameTheDisconnected(written, targets.disks());
    result.calculators.insert(result.calculators.end(), written.begin(), written.end());
    targets.reportMissing(result);
    settle(result);
    return result;
}

DeviceResult sendFinishCommand(const CalculatorSet& set) {
    DeviceResult result;
    OpenedTargets targets(set, OpenedTargets::Count::AimedOnly, result);
    if (!targets.proceed())
        return result;
    DiskTable& table = targets.table();
    for (int i = 0; i < table.count; ++i) {
        CalculatorOutcome outcome{targets.disks()[static_cast<std::size_t>(i)].check.identity,
                                  kResultOk,
                                  {},
                                  Failure::None};
        if (!table.handles[i]) {
            outcome.code = kResultDiskOpen;
            outcome.cause = table.openFailure[i].failureText;
            outcome.failure = Failure::FinishNotWritten;
        } else {
            readControlArea(*table.handles[i], false);
            if (!sendFinish(*table.handles[i])) {
                outcome.code = kResultWrite;
                outcome.cause =
                    phrase(Phrase::FinishNotWritten, {table.handles[i]->lastErrorText()});
                outcome.failure = Failure::FinishNotWritten;
            }
        }
        deviceLog("release: " + toUtf8(describeDisk(outcome.identity)) + ": " +
                  describe(outcome.code));
        result.calculators.push_back(std::move(outcome));
    }
    targets.reportMissing(result);
    settle(result);
    return result;
}
