#include "device/file_transfer.h"

#include "base/pacing.h"
#include "base/sha256.h"
#include "base/utf16_text.h"
#include "device/aligned_buffer.h"
#include "device/control_sector.h"
#include "device/device_log.h"
#include "device/phrases.h"

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

// The thread's end with a failure: what it was and what kind, for the result.
ResultCode fail(TransferJob& job, ResultCode code, Failure kind, std::u16string cause) {
    job.cause = std::move(cause);
    job.kind = kind;
    return code;
}

bool stopRequested(const TransferJob& job) {
    return job.observer && job.observer->stop && job.observer->stop->load();
}

// The end of a transfer that has begun to write: what was written reaches the
// device before the thread lets go of it.
void settleDisk(diskio::BlockIo& disk) {
    (void)disk.flush();
    pacing::pauseMs(kTransferPauseMs);
}

// The cause of a file that is not the one checked.
std::u16string changedText(const FileToWrite& file) {
    return phrase(Phrase::Changed, {file.name});
}

} // namespace

ResultCode transferThread(TransferJob& job) {
    AlignedBuffer chunk(kChunkBytes);
    if (!chunk.valid()) {
        return fail(job, kResultNoBuffer, Failure::NoResources, phrase(Phrase::NoBuffer));
    }
    diskio::OpenResult opened = diskio::openFileForReading(job.params->filePath);
    if (!opened.io) {
        return fail(job, kResultFileOpen, Failure::FileOpen,
                    phrase(Phrase::OpenFile, {opened.failureText}));
    }
    diskio::BlockIo& file = *opened.io;
    std::uint64_t size = 0;
    if (!file.size(size)) {
        return fail(job, kResultFileRead, Failure::FileRead,
                    phrase(Phrase::ReadFile, {file.lastErrorText()}));
    }
    // What is written is what was checked: a file that is no longer the size
    // it had then (replaced since, still being copied) writes nothing at all,
    // not even the first chunk over the image behind it on the disk.
    const FileToWrite& checked = *job.checked;
    if (checked.checked && size != checked.size) {
        deviceLog("transfer: " + toUtf8(changedText(checked)) + " (" + std::to_string(size) +
                  " bytes, " + std::to_string(checked.size) + " checked)");
        return fail(job, kResultFileRead, Failure::Changed, changedText(checked));
    }
    (void)file.seek(job.params->fileOffset);
    Sha256 digest;

    char16_t message[kMessageUnits];
    const std::size_t messageLength = boundedLength(job.params->displayText, kMessageUnits - 1);
    std::copy(job.params->displayText, job.params->displayText + messageLength, message);
    message[messageLength] = 0;
    reportMessage(job, message);

    if (!job.disk) {
        const diskio::OpenResult& opened = job.opened;
        const Failure kind = opened.refusal == diskio::OpenRefusal::AccessDenied
                                 ? Failure::AccessDenied
                             : opened.refusal == diskio::OpenRefusal::InUse ? Failure::InUse
                                                                            : Failure::DiskOpen;
        return fail(job, kResultDiskOpen, kind,
                    opened.failureText.empty() ? phrase(Phrase::DiskCannotBeOpened)
                                               : opened.failureText);
    }
    diskio::BlockIo& disk = *job.disk;

    pacing::pauseMs(kTransferPauseMs);
    readControlArea(disk, false);

    std::uint64_t pos = job.params->diskOffset;
    (void)disk.seek(pos);
    (void)sendProgress(disk, 0);
    pacing::pauseMs(kTransferPauseMs);
    reportProgress(job, 0);

    std::uint64_t remaining = size > job.params->fileOffset ? size - job.params->fileOffset : 0;
    std::uint64_t done = 0;
    std::uint32_t last = 0;
    while (remaining > 0) {
        // Checked between chunks only: a chunk that has begun is written whole.
        if (stopRequested(job)) {
            job.failedAt = pos;
            deviceLog("transfer: stopped at " + std::to_string(pos));
            settleDisk(disk);
            return fail(job, kResultStopped, Failure::Stopped, phrase(Phrase::Stopped));
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkBytes));
        std::size_t got = 0;
        const bool read = file.read(chunk.data(), want, got);
        // A file that shrank since its size was taken yields fewer bytes than
        // asked; writing on would leave the image incomplete on the disk.
        if (!read || got != want) {
            job.failedAt = pos;
            fail(job, kResultFileRead, Failure::FileRead,
                 read ? phrase(Phrase::FileEndedEarly)
                      : phrase(Phrase::ReadFile, {file.lastErrorText()}));
            deviceLog("transfer: " + toUtf8(job.cause));
            settleDisk(disk);
            return kResultFileRead;
        }
        digest.add(chunk.data(), got);
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
        // The system's words go with the result, to the line that gives
        // causes; the line that names the file keeps naming it.
        if (!written) {
            job.failedAt = pos;
            fail(job, kResultWrite, Failure::Write,
                 phrase(Phrase::WriteDiskFile, {disk.lastErrorText()}));
            settleDisk(disk);
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
        job.failedAt = pos;
        fail(job, kResultFileRead, Failure::Changed, phrase(Phrase::FileChangedWhileWritten));
        deviceLog("transfer: " + toUtf8(job.cause));
        settleDisk(disk);
        return kResultFileRead;
    }
    // The same size, other bytes: found before the calculator hears that the
    // file is complete, so that the file fails and the run cannot succeed.
    if (checked.checked && digest.finish() != checked.sha256) {
        fail(job, kResultFileRead, Failure::Changed, changedText(checked));
        deviceLog("transfer: " + toUtf8(job.cause) + " (its bytes differ)");
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
