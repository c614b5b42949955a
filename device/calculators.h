// What the device layer does, all of it: find the calculators in update
// mode, write one firmware file onto a set of them, send a set the finish
// command; each with one result that says what came of it for every
// calculator. Plain C++17, no Qt. Every operation reports failure as a value;
// none throws. The rest of device/ is private to the layer.
#pragma once

#include "base/sha256.h"
#include "device/disk_identity.h"
#include "device/disk_table.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

using ResultCode = std::int32_t;

// Result codes of one operation. 104 and up are failures the calculator
// owner sees as a number in "Update failed (%1)".
enum : ResultCode {
    kResultOk = 0,
    kResultNoDisk = 104,        // no update disk after six scans, or one of the set is missing
    kResultFileOpen = 105,      // firmware file cannot be opened for reading
    kResultDiskOpen = 107,      // update disk cannot be opened, or is not the disk found
    kResultFileRead = 109,      // reading the firmware file failed, came back short, or changed
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

// At most this many calculators are written at once: one per entry of a
// disk table.
constexpr int kMaxCalculators = kMaxUpdateDisks;

// A calculator in update mode, as one scan found it.
struct FoundCalculator {
    std::u16string path; // the system's name of its disk
    DiskIdentity identity;
};

// Every calculator in update mode now, in the system's order, without an
// upper bound (a caller refuses more than 16 itself).
[[nodiscard]] std::vector<FoundCalculator> findCalculators();

// Whether the calculator's disk can be opened for writing now: empty when it
// can, else why not ("Permission denied on /dev/sdb: install the udev rule").
// Nothing is read or written.
[[nodiscard]] std::u16string whyNotWritable(const FoundCalculator& calculator);

// What one calculator made of an operation.
struct CalculatorOutcome {
    DiskIdentity identity;
    ResultCode code = kResultOk;
    std::u16string cause; // empty on success
};

// The calculators one update run holds against every other writer, whether
// another run of this process or another updater: each from the run's first
// write to it until its finish command, so that two updaters never write one
// calculator in turns. A run owns one; safe from any thread.
class CalculatorHolds {
public:
    CalculatorHolds() = default;
    CalculatorHolds(const CalculatorHolds&) = delete;
    CalculatorHolds& operator=(const CalculatorHolds&) = delete;

    // Before this run writes to the calculator found: keeps its hold, or
    // takes it. kResultOk when it may be written; otherwise why not: held by
    // another updater (116), a calculator without a serial number that was
    // unplugged since this run first wrote to it (104), or the hold cannot be
    // had (107).
    [[nodiscard]] CalculatorOutcome claim(const std::u16string& path,
                                          const diskio::DiskCheck& check);
    // Lets go of every calculator.
    void releaseAll();

private:
    std::mutex lock_;
    std::vector<std::pair<DiskIdentity, diskio::DiskHoldPtr>> held_;
};

// Which calculators an operation is aimed at, and on whose behalf.
struct CalculatorSet {
    // Every calculator present when the operation starts (a new run)...
    bool everyPresent = true;
    // ...or exactly these; one that is not connected fails the operation and
    // nothing is written to the others.
    std::vector<DiskIdentity> members;
    // With more than 16 calculators connected nothing is written: counted are
    // every calculator connected (a run that goes to every one of them), or
    // only the members (a run of its own among others).
    bool strangersCount = true;
    // The run's holds, kept and taken here; null: held for this operation only.
    CalculatorHolds* holds = nullptr;
};

// What one operation came to, whole.
struct DeviceResult {
    ResultCode code = kResultOk; // the first failure of `calculators`, or why none was tried
    std::u16string cause;        // of code, naming the calculator; empty on success
    // One entry per calculator tried, then one with 104 per member that is
    // not connected (and then none is tried).
    std::vector<CalculatorOutcome> calculators;
    // Calculators connected but not aimed at: left alone.
    std::vector<DiskIdentity> leftAlone;
};

// A calculator's failure as the user reads it: its cause, led by the name of
// the calculator unless the cause names it already.
[[nodiscard]] std::u16string describeOutcome(const CalculatorOutcome& outcome);

// One firmware image and where it goes.
struct FileToWrite {
    std::u16string path;
    std::u16string name; // how causes name it ("VELA_MAIN.DAT")
    std::uint64_t diskOffset = 0;
    // The image as it was checked: when `checked` is set, a file of another
    // size writes nothing, and one whose bytes differ fails before the
    // calculator is told it is complete (109, "VELA_OS.ROM changed since it
    // was checked: ...").
    std::uint64_t size = 0;
    Sha256::Digest sha256{};
    bool checked = false;
};

// Who a transfer's reports concern. Called from the transfer threads, one
// per calculator, so the receiver must be safe to call from several threads.
struct TransferObserver {
    std::function<void(const DiskIdentity& calculator, int percent)> progress;
    std::function<void(const DiskIdentity& calculator, const std::u16string& text)> message;
    // When set, each transfer ends after the chunk it is writing with
    // kResultStopped: the calculator is left incomplete.
    const std::atomic<bool>* stop = nullptr;
};

// Writes the file onto the set, one thread per calculator, through `table`
// (UpdateDiskTable, or a table of the caller's own: transfers through
// different tables never wait for one another). Waits, as discovery does, up
// to six scans for the set. Writes nothing when more than 16 calculators
// count (see CalculatorSet), when a member is missing, or to a calculator
// another updater holds.
[[nodiscard]] DeviceResult writeFile(const CalculatorSet& set, const FileToWrite& file,
                                     const TransferObserver& observer, DiskTable& table);

// The finish command to the set: 107 when one cannot be opened, 112 when the
// command cannot be written, 104 for a member not connected, 116 for one
// another updater holds. A set of every calculator present sends nothing while
// more than 16 are connected.
[[nodiscard]] DeviceResult sendFinishCommand(const CalculatorSet& set, DiskTable& table);

// The texts the layer writes itself (causes, and the names of calculators),
// for an application that shows them in its user's language. Each template
// may hold %1, %2...; the English ones are the layer's own.
enum class Phrase : int {
    NotConnected,         // %1 the calculator
    DisconnectedNoSerial, // %1 the calculator's port
    HeldElsewhere,        // %1 the calculator
    Changed,              // %1 the file's name
    NoDisk,
    TooMany, // %1 how many
    PathTooLong,
    Stopped,
    NoBuffer,
    WriteDiskFile, // %1 the system's text
    ReadFile,      // %1 the system's text
    OpenFile,      // %1 the system's text
    FileEndedEarly,
    FileChangedWhileWritten,
    DiskCannotBeOpened,
    PermissionUdev,       // %1 the device
    InUse,                // %1 the device
    RefusedChanged,       // %1 the device
    RefusedAnother,       // %1 the device
    RefusedNotBlock,      // %1 the device
    RefusedNotCalculator, // %1 the device, %2 what it is
    FinishNotWritten,     // %1 the system's text
    NoThread,
    NoExitCode,
    AtPosition, // %1 the file's name, %2 the position in hexadecimal, %3 the cause
    NoSuchFile,
    SerialName, // %1 the serial
    PortName,   // %1 the port
    Count
};
// The templates, indexed by Phrase; an empty or missing one stays English.
// Set before any operation begins (any thread may read them).
void setPhrases(std::vector<std::u16string> templates);
// A phrase with its %1, %2... filled in.
[[nodiscard]] std::u16string phrase(Phrase which, std::initializer_list<std::u16string> args = {});

// Diagnostics: the layer keeps no log. It hands each line (UTF-8, control
// characters escaped) to a sink the application may set; nullptr silences it.
// The sink may be called from any thread.
using DeviceLogSink = void (*)(const char* line);
void setDeviceLogSink(DeviceLogSink sink);
