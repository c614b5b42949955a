#include "file_transfer.h"

#include "aligned_buffer.h"
#include "control_sector.h"
#include "device_log.h"
#include "pacing.h"
#include "text_utf.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Stored when a file transfer starts and left in place, as the transfer
// threads of the next transfer overwrite them before they start.
std::atomic<ProgressCallback> progressCallback{nullptr};
std::atomic<MessageCallback> messageCallback{nullptr};

void reportProgress(std::uint32_t percent) {
    if (ProgressCallback cb = progressCallback.load())
        cb(static_cast<int>(percent));
}

void reportMessage(const char16_t* text) {
    if (MessageCallback cb = messageCallback.load())
        cb(text);
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

std::int64_t fileSizeOf(const char16_t* path) {
    diskio::OpenResult file = diskio::openFileForReading(path ? path : u"");
    std::uint64_t bytes = 0;
    if (!file.io || !file.io->size(bytes))
        return 0;
    return static_cast<std::int64_t>(bytes);
}

int openUpdateDisks() {
    DiskTable& table = UpdateDiskTable;
    std::lock_guard<std::recursive_mutex> hold(table.lock);
    int opened = 0;
    for (int i = 0; i < table.count; ++i) {
        diskio::OpenResult disk = diskio::activeDiskSource().openDisk(table.paths[i]);
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

void closeUpdateDisks() {
    DiskTable& table = UpdateDiskTable;
    std::lock_guard<std::recursive_mutex> hold(table.lock);
    for (int i = 0; i < table.count; ++i)
        table.handles[i].reset();
}

ResultCode transferThread(TransferJob& job) {
    if (chunkAllocationShouldFail()) {
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
    (void)file.seek(job.fileOffset);

    char16_t message[kMessageUnits];
    const std::size_t messageLength = boundedLength(job.displayText, kMessageUnits - 1);
    std::copy(job.displayText, job.displayText + messageLength, message);
    message[messageLength] = 0;
    reportMessage(message);

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
    reportProgress(0);

    std::uint64_t remaining = job.byteCount > 0 ? static_cast<std::uint64_t>(job.byteCount) : 0;
    std::uint64_t done = 0;
    std::uint32_t last = 0;
    while (remaining > 0) {
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
            reportMessage(text.c_str());
            return kResultWrite;
        }
        pos += got;
        if (remaining <= kChunkBytes)
            break;
        done += kChunkBytes;
        remaining -= kChunkBytes;
        const auto percent = static_cast<std::uint32_t>(static_cast<double>(done) * 100.0 /
                                                        static_cast<double>(job.byteCount));
        if (percent > last) {
            last = percent >= 100 ? 99 : percent;
            (void)sendProgress(disk, last);
            reportProgress(last);
        }
    }
    settleDisk(disk);
    (void)sendProgress(disk, 100);
    reportProgress(100);
    readControlArea(disk, true);
    pacing::pauseMs(kTransferPauseMs);
    return kResultOk;
}

ResultCode runFileTransfer(const char16_t* vendor, const char16_t* product,
                           const char16_t* filePath, std::uint64_t diskOffset,
                           ProgressCallback progress, MessageCallback message) {
    setLastFailureText(u"");
    // Checked before anything else: the path fields hold 260 units, and a
    // longer path would otherwise be cut to another file's name.
    const std::size_t pathLength = boundedLength(filePath, kMaxTransferPath + 1);
    if (!filePath || pathLength > static_cast<std::size_t>(kMaxTransferPath)) {
        setLastFailureText(u"The firmware path is longer than 260 characters");
        deviceLog("transfer: firmware path longer than 260 UTF-16 units refused");
        return kResultPathTooLong;
    }

    DiskTable& table = UpdateDiskTable;
    std::lock_guard<std::recursive_mutex> hold(table.lock);
    table.count = waitForUpdateDisks(table, vendor, product, kMaxUpdateDisks);
    if (table.count == 0) {
        setLastFailureText(u"No update disk was found");
        return kResultNoDisk;
    }
    progressCallback.store(progress);
    messageCallback.store(message);
    (void)openUpdateDisks();

    FileTransferParams params;
    params.diskOffset = diskOffset;
    params.fileOffset = 0;
    params.byteCount = fileSizeOf(filePath);
    std::copy(filePath, filePath + pathLength, params.filePath);
    std::copy(filePath, filePath + pathLength, params.displayText);

    std::vector<TransferJob> jobs(static_cast<std::size_t>(table.count));
    std::vector<std::function<int()>> threads;
    for (int i = 0; i < table.count; ++i) {
        TransferJob& job = jobs[static_cast<std::size_t>(i)];
        job.disk = table.handles[i].get();
        job.diskOffset = params.diskOffset;
        job.fileOffset = params.fileOffset;
        job.byteCount = params.byteCount;
        job.filePath = params.filePath;
        job.displayText = params.displayText;
        job.openFailure = table.openFailure[i];
        threads.emplace_back([&job] { return transferThread(job); });
    }
    const std::vector<diskio::ThreadOutcome> outcomes = diskio::runThreads(threads);

    // A disk whose thread never ran, or whose exit code cannot be read, has
    // nothing to show that the file arrived, and the worker counts only 0 as
    // a transferred file.
    ResultCode result = kResultOk;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const diskio::ThreadOutcome& outcome = outcomes[i];
        const ResultCode code = outcome.haveCode ? outcome.code : kResultNoThread;
        if (!outcome.started)
            jobs[i].failure = u"No transfer thread could be started";
        else if (!outcome.haveCode)
            jobs[i].failure = u"The transfer thread's exit code cannot be read";
        deviceLog("transfer: disk " + std::to_string(i) + ": " + describe(code));
        if (result == kResultOk && code != kResultOk) {
            result = code;
            setLastFailureText(jobs[i].failure);
        }
    }
    closeUpdateDisks();
    return result;
}

ResultCode releaseUpdateDisks(const char16_t* vendor, const char16_t* product,
                              std::vector<std::u16string>* unfinished) {
    if (unfinished)
        unfinished->clear();
    DiskTable& table = UpdateDiskTable;
    std::lock_guard<std::recursive_mutex> hold(table.lock);
    table.count = waitForUpdateDisks(table, vendor, product, kMaxUpdateDisks);
    if (table.count == 0)
        return kResultNoDisk;
    (void)openUpdateDisks();
    for (int i = 0; i < table.count; ++i) {
        bool finished = false;
        if (table.handles[i]) {
            readControlArea(*table.handles[i], false);
            finished = sendFinish(*table.handles[i]);
        }
        if (!finished && unfinished)
            unfinished->push_back(table.paths[i]);
    }
    closeUpdateDisks();
    return kResultOk;
}
