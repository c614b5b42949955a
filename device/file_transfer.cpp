#include "device/file_transfer.h"
#include "device/disk_testing.h"

#include "base/utf16_text.h"
#include "device/aligned_buffer.h"
#include "device/control_sector.h"
#include "device/device_log.h"
#include "device/pacing.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

void reportProgress(const TransferJob& job, std::uint32_t percent) {
    if (job.observer && job.observer->progress)
        job.observer->progress(job.identity, static_cast<int>(percent));
}

void reportMessage(const TransferJob& job, const char16_t* text) {
    if (job.observer && job.observer->message)
        job.observer->message(job.identity, text);
}

bool stopRequested(const TransferJob& job) {
    return job.observer && job.observer->stop && job.observer->stop->load();
}

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

// The end of a transfer that has begun to write: what was written reaches the
// device before the thread lets go of it.
void settleDisk(diskio::BlockIo& disk) {
    (void)disk.flush();
    pacing::pauseMs(kTransferPauseMs);
}

} // namespace

int openUpdateDisks(DiskTable& table) {
    int opened = 0;
    for (int i = 0; i < table.count; ++i) {
        diskio::OpenResult disk =
            diskio::activeDiskSource().openDisk(table.paths[i], table.checked[i]);
        table.handles[i] = std::move(disk.io);
        table.openFailure[i] = std::move(disk.failureText);
        if (table.handles[i]) {
            ++opened;
        } else {
            deviceLog("open: " + toUtf8(table.paths[i]) + ": " + toUtf8(table.openFailure[i]));
        }
    }
    return opened;
}

void closeUpdateDisks(DiskTable& table) {
    for (int i = 0; i < table.count; ++i)
        table.handles[i].reset();
}

int openUpdateDisks() {
    return openUpdateDisks(UpdateDiskTable);
}

void closeUpdateDisks() {
    closeUpdateDisks(UpdateDiskTable);
}

ResultCode transferThread(TransferJob& job) {
    if (diskio::testing::chunkAllocationShouldFail()) {
        job.failure = u"No memory for the transfer buffer";
        return kResultNoBuffer;
    }
    AlignedBuffer chunk(kChunkBytes);
    if (!chunk.valid()) {
        job.failure = u"No memory for the transfer buffer";
        return kResultNoBuffer;
    }
    diskio::OpenResult opened = diskio::openFileForReading(job.filePath);
    if (!opened.io) {
        job.failure = u"Open File: " + opened.failureText;
        return kResultFileOpen;
    }
    diskio::BlockIo& file = *opened.io;
    std::uint64_t size = 0;
    if (!file.size(size)) {
        job.failure = u"Read File: " + file.lastErrorText();
        return kResultFileRead;
    }
    (void)file.seek(job.fileOffset);

    char16_t message[kMessageUnits];
    const std::size_t messageLength = boundedLength(job.displayText, kMessageUnits - 1);
    std::copy(job.displayText, job.displayText + messageLength, message);
    message[messageLength] = 0;
    reportMessage(job, message);

    if (!job.disk) {
        job.failure =
            job.openFailure.empty() ? u"The update disk cannot be opened" : job.openFailure;
        return kResultDiskOpen;
    }
    diskio::BlockIo& disk = *job.disk;

    pacing::pauseMs(kTransferPauseMs);
    readControlArea(disk, false);

    std::uint64_t pos = job.diskOffset;
    (void)disk.seek(pos);
    (void)sendProgress(disk, 0);
    pacing::pauseMs(kTransferPauseMs);
    reportProgress(job, 0);

    std::uint64_t remaining = size > job.fileOffset ? size - job.fileOffset : 0;
    std::uint64_t done = 0;
    std::uint32_t last = 0;
    while (remaining > 0) {
        // Checked between chunks only: a chunk that has begun is written whole.
        if (stopRequested(job)) {
            job.failure = u"Stopped before the file was written whole";
            deviceLog("transfer: stopped at " + std::to_string(pos));
            settleDisk(disk);
            return kResultStopped;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkBytes));
        std::size_t got = 0;
        const bool read = file.read(chunk.data(), want, got);
        // A file that shrank since its size was taken yields fewer bytes than
        // asked; writing on would leave the image incomplete on the disk.
        if (!read || got != want) {
            job.failure = read ? u"Read File: the file ended before its size was reached"
                               : u"Read File: " + file.lastErrorText();
            deviceLog("transfer: " + toUtf8(job.failure));
            settleDisk(disk);
            return kResultFileRead;
        }
        // Unbuffered access takes whole sectors only, so a short last chunk
        // goes out padded with zeros to the next sector boundary.
        const std::size_t length = (got + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
        std::memset(chunk.data() + got, 0, length - got);
        bool written = false;
        for (int attempt = 1; attempt <= kWriteAttempts && !written; ++attempt) {
            written = disk.seek(pos) && disk.write(chunk.data(), length);
            if (!written)
                deviceLog("transfer: write of " + std::to_string(length) + " bytes at " +
                          std::to_string(pos) + " failed (attempt " + std::to_string(attempt) +
                          " of 7): " + toUtf8(disk.lastErrorText()));
        }
        if (!written) {
            const std::u16string text = u"Write Disk File: " + disk.lastErrorText();
            job.failure = text;
            settleDisk(disk);
            reportMessage(job, text.c_str());
            return kResultWrite;
        }
        pos += got;
        if (remaining <= kChunkBytes)
            break;
        done += kChunkBytes;
        remaining -= kChunkBytes;
        const auto percent = static_cast<std::uint32_t>(static_cast<double>(done) * 100.0 /
                                                        static_cast<double>(size));
        if (percent > last) {
            last = percent >= 100 ? 99 : percent;
            (void)sendProgress(disk, last);
            reportProgress(job, last);
        }
    }
    // A file still being copied would otherwise be installed cut short and
    // reported whole: after the last chunk it must still have the size it had
    // when it was opened, with nothing more to read.
    std::uint64_t sizeNow = 0;
    std::size_t more = 0;
    if (!file.size(sizeNow) || sizeNow != size || !file.read(chunk.data(), 1, more) || more != 0) {
        job.failure = u"Read File: the file changed while it was being written";
        deviceLog("transfer: " + toUtf8(job.failure));
        settleDisk(disk);
        return kResultFileRead;
    }
    settleDisk(disk);
    (void)sendProgress(disk, 100);
    reportProgress(job, 100);
    readControlArea(disk, true);
    pacing::pauseMs(kTransferPauseMs);
    return kResultOk;
}

namespace {

// The calculators an operation aims at, as one scan found them.
struct Targets {
    std::vector<FoundDisk> aimed; // in listing order
    std::vector<DiskIdentity> missing;
    std::vector<DiskIdentity> leftAlone;
    std::size_t connected = 0;
};

Targets classify(std::vector<FoundDisk> found, const DiskSelection& selection) {
    Targets targets;
    targets.connected = found.size();
    if (selection.everyPresent) {
        targets.aimed = std::move(found);
        return targets;
    }
    // Calculators without a serial share one identity; each named entry takes
    // one disk, so two of them need two disks.
    std::vector<bool> taken(selection.disks.size(), false);
    for (FoundDisk& disk : found) {
        bool named = false;
        for (std::size_t i = 0; i < selection.disks.size() && !named; ++i) {
            if (!taken[i] && selection.disks[i] == disk.check.identity)
                taken[i] = named = true;
        }
        if (named)
            targets.aimed.push_back(std::move(disk));
        else
            targets.leftAlone.push_back(disk.check.identity);
    }
    for (std::size_t i = 0; i < selection.disks.size(); ++i) {
        if (!taken[i])
            targets.missing.push_back(selection.disks[i]);
    }
    return targets;
}

// Up to six scans, 500 ms apart, as waitForUpdateDisks: until any update disk
// is present (a new run), or until every named calculator is.
Targets waitForTargets(const DiskSelection& selection, const char16_t* vendor,
                       const char16_t* product) {
    Targets targets;
    for (int attempt = 1; attempt <= kDiscoveryAttempts; ++attempt) {
        targets = classify(scanUpdateDisks(vendor, product), selection);
        const bool complete =
            selection.everyPresent ? !targets.aimed.empty() : targets.missing.empty();
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

// Failures of the calculators that were named but not found.
void reportMissing(TransferReport& report, const std::vector<DiskIdentity>& missing) {
    for (const DiskIdentity& identity : missing) {
        report.disks.push_back({identity, kResultNoDisk,
                                identity.hasSerial()
                                    ? u"The calculator (" + describeDisk(identity) +
                                          u") of this update is not connected: plug it in again"
                                    : disconnectedWithoutSerialText(identity)});
    }
}

// Keeps, of the disks aimed at, those this run may write now; each of the
// others gets its outcome in report. `holds` is the run's own, or one for
// this call alone.
std::vector<FoundDisk> claimed(std::vector<FoundDisk> aimed, CalculatorHolds& holds,
                               TransferReport& report) {
    std::vector<FoundDisk> mayWrite;
    for (FoundDisk& disk : aimed) {
        DiskOutcome outcome = holds.claim(disk);
        if (outcome.code == kResultOk)
            mayWrite.push_back(std::move(disk));
        else
            report.disks.push_back(std::move(outcome));
    }
    return mayWrite;
}

// The report's result is its first failure; its cause names the calculator,
// since the one line the dialog shows speaks for all of them. A missing
// calculator's cause already names it.
void settleResult(TransferReport& report) {
    for (const DiskOutcome& outcome : report.disks) {
        if (outcome.code != kResultOk) {
            report.result = outcome.code;
            report.cause = describeOutcome(outcome);
            return;
        }
    }
}

std::u16string tooManyText(std::size_t connected) {
    return u"More than 16 update disks are connected (" + toUtf16(std::to_string(connected)) +
           u"): nothing is written until all but 16 are unplugged";
}

} // namespace

namespace {

// How a file transfer holds its table of disks.
enum class TableUse {
    Shared, // UpdateDiskTable, whose lock the caller holds: nothing else may be connected beyond 16
    OwnTable // a table of this call alone: only the calculators aimed at count
};

TransferReport transferThrough(DiskTable& table, TableUse use, const DiskSelection& targets,
                               const char16_t* vendor, const char16_t* product,
                               const char16_t* filePath, std::size_t pathLength,
                               std::uint64_t diskOffset, const TransferObserver& observer) {
    TransferReport report;
    const Targets found = waitForTargets(targets, vendor, product);
    report.leftAlone = found.leftAlone;
    // The table holds 16, and a 17th calculator would silently be left half
    // updated: with more connected nothing is written at all. A table of its
    // own writes only the calculators it names, so only those count.
    const std::size_t counted = use == TableUse::Shared ? found.connected : found.aimed.size();
    if (counted > static_cast<std::size_t>(kMaxUpdateDisks)) {
        report.result = kResultNoDisk;
        report.cause = tooManyText(counted);
        deviceLog("transfer: " + toUtf8(report.cause));
        return report;
    }
    if (!found.missing.empty()) {
        reportMissing(report, found.missing);
        settleResult(report);
        return report;
    }
    if (found.aimed.empty()) {
        report.result = kResultNoDisk;
        report.cause = u"No update disk was found";
        return report;
    }
    CalculatorHolds forThisCall;
    const std::vector<FoundDisk> aimed =
        claimed(found.aimed, targets.holds ? *targets.holds : forThisCall, report);
    fillTable(table, aimed);
    (void)openUpdateDisks(table);

    FileTransferParams params;
    params.diskOffset = diskOffset;
    params.fileOffset = 0;
    std::copy(filePath, filePath + pathLength, params.filePath);
    std::copy(filePath, filePath + pathLength, params.displayText);

    std::vector<TransferJob> jobs(static_cast<std::size_t>(table.count));
    std::vector<std::function<int()>> threads;
    for (int i = 0; i < table.count; ++i) {
        TransferJob& job = jobs[static_cast<std::size_t>(i)];
        job.disk = table.handles[i].get();
        job.diskOffset = params.diskOffset;
        job.fileOffset = params.fileOffset;
        job.filePath = params.filePath;
        job.displayText = params.displayText;
        job.openFailure = table.openFailure[i];
        job.identity = aimed[static_cast<std::size_t>(i)].check.identity;
        job.observer = &observer;
        threads.emplace_back([&job] { return transferThread(job); });
    }
    const std::vector<diskio::ThreadOutcome> outcomes = diskio::runThreads(threads);

    // A disk whose thread never ran, or whose exit code cannot be read, has
    // nothing to show that the file arrived, and the worker counts only 0 as
    // a transferred file.
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const diskio::ThreadOutcome& outcome = outcomes[i];
        const ResultCode code = outcome.haveCode ? outcome.code : kResultNoThread;
        if (!outcome.started)
            jobs[i].failure = u"No transfer thread could be started";
        else if (!outcome.haveCode)
            jobs[i].failure = u"The transfer thread's exit code cannot be read";
        deviceLog("transfer: disk " + std::to_string(i) + ": " + describe(code));
        report.disks.push_back({aimed[i].check.identity, code,
                                code == kResultOk ? std::u16string() : jobs[i].failure});
    }
    closeUpdateDisks(table);
    settleResult(report);
    return report;
}

// Checked before anything else: the path fields hold 260 units, and a longer
// path would otherwise be cut to another file's name. False when refused.
bool pathFits(const char16_t* filePath, std::size_t& length, TransferReport& report) {
    length = boundedLength(filePath, kMaxTransferPath + 1);
    if (filePath && length <= static_cast<std::size_t>(kMaxTransferPath))
        return true;
    report.result = kResultPathTooLong;
    report.cause = u"The firmware path is longer than 260 characters";
    deviceLog("transfer: firmware path longer than 260 UTF-16 units refused");
    return false;
}

} // namespace

namespace {

TransferReport transferShared(const DiskSelection& targets, const char16_t* vendor,
                              const char16_t* product, const char16_t* filePath,
                              std::uint64_t diskOffset, const TransferObserver& observer) {
    TransferReport report;
    std::size_t pathLength = 0;
    if (!pathFits(filePath, pathLength, report))
        return report;
    // A file of the run goes to every calculator of the run, whole.
    TransferObserver whole = observer;
    whole.stop = nullptr;
    DiskTable& table = UpdateDiskTable;
    std::lock_guard<std::mutex> hold(table.lock);
    return transferThrough(table, TableUse::Shared, targets, vendor, product, filePath, pathLength,
                           diskOffset, whole);
}

// The dialog's one bar and one line speak for every calculator of the run.
TransferObserver observerOf(ProgressCallback progress, MessageCallback message) {
    TransferObserver observer;
    if (progress)
        observer.progress = [progress](const DiskIdentity&, int percent) { progress(percent); };
    if (message)
        observer.message = [message](const DiskIdentity&, const std::u16string& text) {
            message(text.c_str());
        };
    return observer;
}

} // namespace

std::u16string describeOutcome(const DiskOutcome& outcome) {
    const std::u16string name = describeDisk(outcome.identity);
    return outcome.cause.find(name) != std::u16string::npos ? outcome.cause
                                                            : name + u": " + outcome.cause;
}

TransferReport transferFile(const DiskSelection& targets, const char16_t* vendor,
                            const char16_t* product, const char16_t* filePath,
                            std::uint64_t diskOffset, ProgressCallback progress,
                            MessageCallback message) {
    return transferShared(targets, vendor, product, filePath, diskOffset,
                          observerOf(progress, message));
}

TransferReport transferToCalculators(const DiskSelection& targets, const char16_t* vendor,
                                     const char16_t* product, const char16_t* filePath,
                                     std::uint64_t diskOffset, const TransferObserver& observer) {
    TransferReport report;
    std::size_t pathLength = 0;
    if (!pathFits(filePath, pathLength, report))
        return report;
    // Large (paths of 16 disks): kept off the stack of the caller's thread.
    const auto table = std::make_unique<DiskTable>();
    return transferThrough(*table, TableUse::OwnTable, targets, vendor, product, filePath,
                           pathLength, diskOffset, observer);
}

namespace {

TransferReport releaseThrough(DiskTable& table, const DiskSelection& targets,
                              const char16_t* vendor, const char16_t* product) {
    TransferReport report;
    const Targets found = waitForTargets(targets, vendor, product);
    report.leftAlone = found.leftAlone;
    // A run that wrote nothing sends the finish command to every calculator
    // present; with more than the 16 a run may take, choosing 16 of them
    // would be arbitrary, and nothing was written to any: none gets it.
    if (found.aimed.size() > static_cast<std::size_t>(kMaxUpdateDisks)) {
        report.result = kResultNoDisk;
        report.cause = tooManyText(found.aimed.size());
        for (const FoundDisk& disk : found.aimed)
            report.leftAlone.push_back(disk.check.identity);
        deviceLog("release: " + toUtf8(report.cause));
        return report;
    }
    if (found.aimed.empty() && found.missing.empty()) {
        report.result = kResultNoDisk;
        report.cause = u"No update disk was found";
        return report;
    }
    // The finish command ends an update: never one that another updater runs.
    CalculatorHolds forThisCall;
    const std::vector<FoundDisk> aimed =
        claimed(found.aimed, targets.holds ? *targets.holds : forThisCall, report);
    fillTable(table, aimed);
    (void)openUpdateDisks(table);
    for (int i = 0; i < table.count; ++i) {
        DiskOutcome outcome{aimed[static_cast<std::size_t>(i)].check.identity, kResultOk, {}};
        if (!table.handles[i]) {
            outcome.code = kResultDiskOpen;
            outcome.cause = table.openFailure[i];
        } else {
            readControlArea(*table.handles[i], false);
            if (!sendFinish(*table.handles[i])) {
                outcome.code = kResultWrite;
                outcome.cause = u"The finish command could not be written: " +
                                table.handles[i]->lastErrorText();
            }
        }
        deviceLog("release: " + toUtf8(describeDisk(outcome.identity)) + ": " +
                  describe(outcome.code));
        report.disks.push_back(std::move(outcome));
    }
    closeUpdateDisks(table);
    reportMissing(report, found.missing);
    settleResult(report);
    return report;
}

} // namespace

TransferReport releaseDisks(const DiskSelection& targets, const char16_t* vendor,
                            const char16_t* product) {
    DiskTable& table = UpdateDiskTable;
    std::lock_guard<std::mutex> hold(table.lock);
    return releaseThrough(table, targets, vendor, product);
}

TransferReport releaseCalculators(const DiskSelection& targets, const char16_t* vendor,
                                  const char16_t* product) {
    const auto table = std::make_unique<DiskTable>();
    return releaseThrough(*table, targets, vendor, product);
}

TransferReport transferInUpdateRun(const char16_t* vendor, const char16_t* product,
                                   const char16_t* filePath, std::uint64_t diskOffset,
                                   ProgressCallback progress, MessageCallback message) {
    return transferInUpdateRun(vendor, product, filePath, diskOffset,
                               observerOf(progress, message));
}

TransferReport transferInUpdateRun(const char16_t* vendor, const char16_t* product,
                                   const char16_t* filePath, std::uint64_t diskOffset,
                                   const TransferObserver& observer) {
    UpdateRunSet& run = currentUpdateRun();
    const bool begun = run.begun();
    const TransferReport report =
        transferShared(begun ? DiskSelection::only(run.members(), &run.holds())
                             : DiskSelection::allPresent(&run.holds()),
                       vendor, product, filePath, diskOffset, observer);
    // The first transfer that set out to write fixes the run's calculators,
    // whatever came of it: one that failed must still get the whole set.
    if (!begun && !report.disks.empty()) {
        std::vector<DiskIdentity> members;
        for (const DiskOutcome& outcome : report.disks)
            members.push_back(outcome.identity);
        run.begin(std::move(members));
    }
    run.noteLeftAlone(report.leftAlone);
    return report;
}

ResultCode runFileTransfer(const char16_t* vendor, const char16_t* product,
                           const char16_t* filePath, std::uint64_t diskOffset,
                           ProgressCallback progress, MessageCallback message) {
    return transferInUpdateRun(vendor, product, filePath, diskOffset, progress, message).result;
}

TransferReport releaseUpdateRun(const char16_t* vendor, const char16_t* product) {
    UpdateRunSet& run = currentUpdateRun();
    const TransferReport report =
        releaseDisks(run.begun() ? DiskSelection::only(run.members(), &run.holds())
                                 : DiskSelection::allPresent(&run.holds()),
                     vendor, product);
    run.end();
    return report;
}

ResultCode releaseUpdateDisks(const char16_t* vendor, const char16_t* product,
                              std::vector<std::u16string>* unfinished) {
    const TransferReport report = releaseUpdateRun(vendor, product);
    if (unfinished) {
        unfinished->clear();
        for (const DiskOutcome& outcome : report.disks) {
            if (outcome.code != kResultOk)
                unfinished->push_back(describeDisk(outcome.identity));
        }
    }
    return report.result;
}

bool UpdateRunSet::begun() const {
    std::lock_guard<std::mutex> hold(lock_);
    return begun_;
}

std::vector<DiskIdentity> UpdateRunSet::members() const {
    std::lock_guard<std::mutex> hold(lock_);
    return members_;
}

std::vector<DiskIdentity> UpdateRunSet::leftAlone() const {
    std::lock_guard<std::mutex> hold(lock_);
    return leftAlone_;
}

void UpdateRunSet::begin(std::vector<DiskIdentity> members) {
    std::lock_guard<std::mutex> hold(lock_);
    begun_ = true;
    members_ = std::move(members);
    leftAlone_.clear();
}

void UpdateRunSet::noteLeftAlone(const std::vector<DiskIdentity>& disks) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!begun_)
        return;
    for (const DiskIdentity& identity : disks) {
        if (std::find(leftAlone_.begin(), leftAlone_.end(), identity) == leftAlone_.end())
            leftAlone_.push_back(identity);
    }
}

void UpdateRunSet::end() {
    std::lock_guard<std::mutex> hold(lock_);
    begun_ = false;
    members_.clear();
    leftAlone_.clear();
    holds_.releaseAll();
}

UpdateRunSet& currentUpdateRun() {
    static UpdateRunSet run;
    return run;
}
