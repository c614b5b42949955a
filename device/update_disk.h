// Public face of the device layer: finding the calculator's update disk,
// writing one firmware file onto every such disk, and the finish command.
// Plain C++17, no Qt. Every function reports failure as a value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using ResultCode = std::int32_t;

// Result codes of one file transfer. 104 and up are failures the calculator
// owner sees as a number in "Update failed (%1)".
enum : ResultCode {
    kResultOk = 0,
    kResultNoDisk = 104,        // no update disk after six scans
    kResultFileOpen = 105,      // firmware file cannot be opened for reading
    kResultDiskOpen = 107,      // update disk cannot be opened
    kResultFileRead = 109,      // reading the firmware file failed or came back short
    kResultNoBuffer = 110,      // chunk buffer cannot be allocated
    kResultWrite = 112,         // a chunk write failed seven times in a row
    kResultPathTooLong = 113,   // firmware path longer than 260 UTF-16 units
    kResultNoThread = 114,      // no transfer thread could be started or joined
    kResultStopped = 115,       // told to stop between two chunks: left incomplete
    kResultHeldElsewhere = 116, // another updater is updating the calculator
};

// Vendor and product texts under which the calculator presents its update disk.
extern const char16_t updateVendorId[];  // u"Orvane"
extern const char16_t updateProductId[]; // u"Vela update"

// Longest firmware path, in UTF-16 units without the terminator.
constexpr int kMaxTransferPath = 260;

using ProgressCallback = void (*)(int percent);
// The text is valid only during the call; the receiver copies it.
using MessageCallback = void (*)(const char16_t* text);

// One scan: true when at least one update disk is present now.
[[nodiscard]] bool isUpdateDiskPresent(const char16_t* vendor, const char16_t* product);

// Writes the file at filePath at diskOffset onto the calculators of the
// current update run (every update disk present, for the run's first file),
// one thread per disk, and blocks until all of them have ended.
[[nodiscard]] ResultCode runFileTransfer(const char16_t* vendor, const char16_t* product,
                                         const char16_t* filePath, std::uint64_t diskOffset,
                                         ProgressCallback progress, MessageCallback message);

// Sends the finish command to the calculators of the current update run (to
// every update disk present when no file was written yet) and ends the run.
// 0; 104 when one is not connected; 107 or 112 when one cannot take it.
// unfinished, when given, receives the name of every calculator of the run
// that could not be opened, did not take the finish command or was not
// connected: the caller must not report a finished update for it.
ResultCode releaseUpdateDisks(const char16_t* vendor, const char16_t* product,
                              std::vector<std::u16string>* unfinished = nullptr);
