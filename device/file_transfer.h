// Writing one firmware file onto every update disk, one thread per disk, and
// the finish command at the end of an update. The public entry points are in
// update_disk.h; the pieces here are exposed for the tests.
#pragma once

#include "device/disk_discovery.h"
#include "device/update_disk.h"
#include "device/update_run.h"

#include <cstdint>
#include <string>

constexpr std::size_t kChunkBytes = 16384;
constexpr std::size_t kSectorBytes = 512;
constexpr int kWriteAttempts = 7;
constexpr int kTransferPauseMs = 100;
constexpr int kMessageUnits = 360;

// The file's size is not among the parameters: each transfer thread takes it
// from the handle it reads, so that the size and the bytes belong together.
struct FileTransferParams {
    std::uint64_t diskOffset = 0;
    std::uint64_t fileOffset = 0;
    char16_t filePath[kMaxTransferPath + 1] = {};
    char16_t displayText[kMaxTransferPath + 1] = {};
};

struct TransferJob {
    diskio::BlockIo* disk = nullptr; // null: the disk could not be opened
    std::uint64_t diskOffset = 0;
    std::uint64_t fileOffset = 0;
    const char16_t* filePath = nullptr;
    const char16_t* displayText = nullptr;
    std::u16string openFailure;                 // why the disk could not be opened
    std::u16string failure;                     // set by the thread when it ends with a failure
    DiskIdentity identity;                      // whom progress and messages concern
    const TransferObserver* observer = nullptr; // null: nobody is told
};

// Opens the first count entries of the table; returns how many opened. The
// caller holds UpdateDiskTable.lock when it is that table, as for closing them.
int openUpdateDisks(DiskTable& table);
void closeUpdateDisks(DiskTable& table);
int openUpdateDisks();
void closeUpdateDisks();

// One disk's share of a file transfer; the thread's exit code.
[[nodiscard]] ResultCode transferThread(TransferJob& job);
