// The device layer's operations over a set of calculators: find them, write
// one file onto them (one transfer thread each), send them the finish command.
#include "device/calculators.h"

#include "base/pacing.h"
#include "base/utf16_text.h"
#include "device/control_sector.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/file_transfer.h"

#include <algorithm>
#include <cstdio>

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

void fillTable(DiskTable& table, const std::vector<FoundDisk>& disks) {
    table.count = static_cast<std::int32_t>(disks.size());
    for (std::size_t i = 0; i < disks.size(); ++i) {
        const std::u16string& path = disks[i].path;
        std::copy(path.begin(), path.end(), table.paths[i]);
        table.paths[i][path.size()] = 0;
        table.checked[i] = disks[i].check;
    }
}

// Opens the first count entries; an entry that cannot be opened keeps why.
void openDisks(DiskTable& table) {
    for (int i = 0; i < table.count; ++i) {
        diskio::OpenResult disk =
            diskio::activeDiskSource().openDisk(table.paths[i], table.checked[i]);
        table.handles[i] = std::move(disk.io);
        table.openFailure[i] = std::move(disk.failureText);
        if (!table.handles[i])
            deviceLog("open: " + toUtf8(table.paths[i]) + ": " + toUtf8(table.openFailure[i]));
    }
}

void closeDisks(DiskTable& table) {
    for (int i = 0; i < table.count; ++i)
        table.handles[i].reset();
}

// Failures of the members that are not connected.
void reportMissing(DeviceResult& result, const std::vector<DiskIdentity>& missing) {
    for (const DiskIdentity& identity : missing) {
        result.calculators.push_back({identity, kResultNoDisk,
                                      identity.hasSerial()
                                          ? phrase(Phrase::NotConnected, {describeDisk(identity)})
                                          : disconnectedWithoutSerialText(identity)});
    }
}

// Of the disks aimed at, those this call may write now, claimed in holds and
// opened in table; each of the others gets its outcome in result.
std::vector<FoundDisk> claimAndOpen(std::vector<FoundDisk> aimed, CalculatorHolds& holds,
                                    DeviceResult& result, DiskTable& table) {
    std::vector<FoundDisk> mayWrite;
    for (FoundDisk& disk : aimed) {
        CalculatorOutcome outcome = holds.claim(disk.path, disk.check);
        if (outcome.code == kResultOk)
            mayWrite.push_back(std::move(disk));
        else
            result.calculators.push_back(std::move(outcome));
    }
    fillTable(table, mayWrite);
    openDisks(table);
    return mayWrite;
}

// The result is its first failure; its cause names the calculator, since the
// one line the dialog shows speaks for all of them.
void settle(DeviceResult& result) {
    for (const CalculatorOutcome& outcome : result.calculators) {
        if (outcome.code != kResultOk) {
            result.code = outcome.code;
            result.cause = describeOutcome(outcome);
            return;
        }
    }
}

std::u16string tooManyText(std::size_t connected) {
    return phrase(Phrase::TooMany, {toUtf16(std::to_string(connected))});
}

// What the thread said, with where: "VELA_MAIN.DAT at 0x104000: Write Disk File: ...".
std::u16string inContext(const FileToWrite& file, const TransferJob& job) {
    if (job.failedAt == kNoPosition)
        return job.failure;
    char at[32];
    std::snprintf(at, sizeof at, "%llX", static_cast<unsigned long long>(job.failedAt));
    return phrase(Phrase::AtPosition, {file.name, toUtf16(at), job.failure});
}

} // namespace

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
                       const TransferObserver& observer, DiskTable& table) {
    DeviceResult result;
    // The path fields hold 260 units; a longer path would be cut to another
    // file's name. Checked before anything else.
    if (file.path.size() > static_cast<std::size_t>(kMaxTransferPath)) {
        result.code = kResultPathTooLong;
        result.cause = phrase(Phrase::PathTooLong);
        deviceLog("transfer: firmware path longer than 260 UTF-16 units refused");
        return result;
    }
    std::lock_guard<std::mutex> hold(table.lock);
    const Targets found = waitForTargets(set);
    result.leftAlone = found.leftAlone;
    // The table holds 16, and a 17th calculator would silently be left half
    // updated: with more counted, nothing is written at all.
    const std::size_t counted = set.strangersCount ? found.connected : found.aimed.size();
    if (counted > static_cast<std::size_t>(kMaxCalculators)) {
        result.code = kResultNoDisk;
        result.cause = tooManyText(counted);
        deviceLog("transfer: " + toUtf8(result.cause));
        return result;
    }
    if (!found.missing.empty()) {
        reportMissing(result, found.missing);
        settle(result);
        return result;
    }
    if (found.aimed.empty()) {
        result.code = kResultNoDisk;
        result.cause = phrase(Phrase::NoDisk);
        return result;
    }
    // A set without holds of its own holds its calculators while this call writes.
    CalculatorHolds forThisCall;
    const std::vector<FoundDisk> aimed =
        claimAndOpen(found.aimed, set.holds ? *set.holds : forThisCall, result, table);

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
        job.openFailure = table.openFailure[i];
        job.identity = aimed[static_cast<std::size_t>(i)].check.identity;
        job.observer = &observer;
        threads.emplace_back([&job] { return transferThread(job); });
    }
    const std::vector<diskio::ThreadOutcome> outcomes = diskio::runThreads(threads);

    // A disk whose thread never ran, or whose exit code cannot be read, has
    // nothing to show that the file arrived: only 0 counts as written.
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const diskio::ThreadOutcome& outcome = outcomes[i];
        const ResultCode code = outcome.haveCode ? outcome.code : kResultNoThread;
        if (!outcome.started)
            jobs[i].failure = phrase(Phrase::NoThread);
        else if (!outcome.haveCode)
            jobs[i].failure = phrase(Phrase::NoExitCode);
        deviceLog("transfer: disk " + std::to_string(i) + ": " + describe(code));
        result.calculators.push_back(
            {aimed[i].check.identity, code,
             code == kResultOk ? std::u16string() : inContext(file, jobs[i])});
    }
    closeDisks(table);
    settle(result);
    return result;
}

DeviceResult sendFinishCommand(const CalculatorSet& set, DiskTable& table) {
    DeviceResult result;
    std::lock_guard<std::mutex> hold(table.lock);
    const Targets found = waitForTargets(set);
    result.leftAlone = found.leftAlone;
    // A run that wrote nothing sends the finish command to every calculator
    // present; with more than the 16 a run may take, choosing 16 of them
    // would be arbitrary, and nothing was written to any: none gets it.
    if (found.aimed.size() > static_cast<std::size_t>(kMaxCalculators)) {
        result.code = kResultNoDisk;
        result.cause = tooManyText(found.aimed.size());
        for (const FoundDisk& disk : found.aimed)
            result.leftAlone.push_back(disk.check.identity);
        deviceLog("release: " + toUtf8(result.cause));
        return result;
    }
    if (found.aimed.empty() && found.missing.empty()) {
        result.code = kResultNoDisk;
        result.cause = phrase(Phrase::NoDisk);
        return result;
    }
    // The finish command ends an update: never one that another updater runs.
    CalculatorHolds forThisCall;
    const std::vector<FoundDisk> aimed =
        claimAndOpen(found.aimed, set.holds ? *set.holds : forThisCall, result, table);
    for (int i = 0; i < table.count; ++i) {
        CalculatorOutcome outcome{aimed[static_cast<std::size_t>(i)].check.identity, kResultOk, {}};
        if (!table.handles[i]) {
            outcome.code = kResultDiskOpen;
            outcome.cause = table.openFailure[i];
        } else {
            readControlArea(*table.handles[i], false);
            if (!sendFinish(*table.handles[i])) {
                outcome.code = kResultWrite;
                outcome.cause =
                    phrase(Phrase::FinishNotWritten, {table.handles[i]->lastErrorText()});
            }
        }
        deviceLog("release: " + toUtf8(describeDisk(outcome.identity)) + ": " +
                  describe(outcome.code));
        result.calculators.push_back(std::move(outcome));
    }
    closeDisks(table);
    reportMissing(result, found.missing);
    settle(result);
    return result;
}
