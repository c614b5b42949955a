// One disk's share of a file transfer: the thread that writes one firmware
// file onto one update disk, with the control steps around the data.
#pragma once

#include "device/calculators.h"
#include "device/disk_io.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kChunkBytes = 16384;
constexpr std::size_t kSectorBytes = 512;
constexpr int kWriteAttempts = 7;
constexpr int kTransferPauseMs = 100;
constexpr int kMessageUnits = 360;
// Longest firmware path, in UTF-16 units without the terminator.
constexpr int kMaxTransferPath = 260;

// Read by every thread of one transfer. The file's size is not among the
// fields: each thread takes it from the handle it reads, so that the size
// and the bytes belong together.
struct FileTransferParams {
    std::uint64_t diskOffset = 0;
    std::uint64_t fileOffset = 0;
    char16_t filePath[kMaxTransferPath + 1] = {};
    char16_t displayText[kMaxTransferPath + 1] = {};
};

constexpr std::uint64_t kNoPosition = ~std::uint64_t{0};

struct TransferJob {
    diskio::BlockIo* disk = nullptr; // null: the disk could not be opened
    const FileTransferParams* params = nullptr;
    diskio::OpenResult opened;                  // when disk is null: why it could not be opened
    std::u16string cause;                       // set by the thread when it ends with a failure,
    Failure kind = Failure::None;               // ... what kind of failure it is,
    std::uint64_t failedAt = kNoPosition;       // ... and where on the disk, when it got that far
    const FileToWrite* checked = nullptr;       // the size and digest the file must have
    DiskIdentity identity;                      // whom progress and messages concern
    const TransferObserver* observer = nullptr; // null: nobody is told
};

// The thread's exit code.
[[nodiscard]] ResultCode transferThread(TransferJob& job);
