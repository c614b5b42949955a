// What the device layer does, all of it: find the calculators in update
// mode, write one firmware file onto a set of them, send a set the finish
// command; each with one result that says what came of it for every
// calculator. Plain C++17, no Qt. Every operation reports failure as a value;
// none throws. This header (with disk_identity.h, the value that names a
// calculator) is the layer's face: the rest of device/ is private to it.
#pragma once

#include "base/sha256.h"
#include "device/disk_identity.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

// What kind of failure a result is, finer than its code: what the user is
// told to do next depends on it (a calculator unplugged is not a bad cable).
enum class Failure : int {
    None,
    NoCalculator,         // 104: none in update mode
    TooMany,              // 104: more than 16 connected
    Disconnected,         // 104: a calculator of the run is not connected (it has a serial)
    DisconnectedNoSerial, // 104: one without a serial left: it cannot be told again
    FileOpen,             // 105
    PathTooLong,          // 113
    AccessDenied,         // 107: the system refuses this user the disk
    InUse,                // 107: another program has it (a mounted file system)
    DiskOpen,             // 107: any other reason
    FileRead,             // 109: the file cannot be read, or came back short
    Changed,              // 109: the image is not the one checked
    NoResources,          // 110, 114: no memory or no thread
    Write,                // 112
    Stopped,              // 115
    HeldElsewhere,        // 116
    FinishNotWritten,     // the finish command could not be written
};

// Vendor and product texts under which the calculator presents its update disk.
extern const char16_t updateVendorId[];  // u"Orvane"
extern const char16_t updateProductId[]; // u"Vela update"

// At most this many calculators are written at once: one per entry of a
// disk table.
constexpr int kMaxCalculators = 16;

// A calculator in update mode, as one scan found it.
struct FoundCalculator {
    std::u16string path; // the system's name of its disk
    DiskIdentity identity;
};

// Every calculator in update mode now, in the system's order, without an
// upper bound (a caller refuses more than 16 itself).
[[nodiscard]] std::vector<FoundCalculator> findCalculators();

// Whether the calculator's disk can be opened for writing now: empty when it
// can, else why not ("Permission denied on /dev/sdb"). Nothing is read or
// written.
[[nodiscard]] std::u16string whyNotWritable(const FoundCalculator& calculator);

// What one calculator made of an operation.
struct CalculatorOutcome {
    DiskIdentity identity;
    ResultCode code = kResultOk;
    std::u16string cause; // empty on success
    Failure failure = Failure::None;
    // The operation held the calculator and may have written to it.
    bool reached = false;
};

// The calculators one update run holds against every other writer, whether
// another run of this process or another updater: each from the run's first
// write to it until its finish command, so that two updaters never write one
// calculator in turns. A run owns one; safe from any thread. What it holds is
// the layer's own business: operations take and keep holds in it.
class CalculatorHolds {
public:
    CalculatorHolds();
    ~CalculatorHolds();
    CalculatorHolds(const CalculatorHolds&) = delete;
    CalculatorHolds& operator=(const CalculatorHolds&) = delete;

    // Lets go of one calculator (after its finish command), or of every one.
    void release(const DiskIdentity& calculator);
    void releaseAll();

    struct Held; // private to the layer
    [[nodiscard]] Held& held() { return *held_; }

private:
    std::unique_ptr<Held> held_;
};

// The table of update disks an operation goes through (paths, open handles).
// The dialog's run goes through the one the system names, UpdateDiskTable; a
// caller that runs sessions of its own gives each a table of its own, so that
// they never wait for one another. Private to the layer.
struct DiskTable;
[[nodiscard]] std::shared_ptr<DiskTable> newDiskTable();

// Which calculators an operation is aimed at, and on whose behalf.
struct CalculatorSet {
    // Every calculator present when the operation starts (a new run)...
    bool everyPresent = true;
    // ...or exactly these. One that is not connected fails alone (104); the
    // others are written.
    std::vector<DiskIdentity> members;
    // With more than 16 calculators connected nothing is written: counted are
    // every calculator connected (a run that goes to every one of them), or
    // only the members (a run of its own among others).
    bool strangersCount = true;
    // The run's holds, kept and taken here; null: held for this operation only.
    CalculatorHolds* holds = nullptr;
    // The table it goes through; null: UpdateDiskTable.
    DiskTable* table = nullptr;
};

// What one operation came to, whole.
struct DeviceResult {
    ResultCode code = kResultOk; // the first failure of `calculators`, or why none was tried
    std::u16string cause;        // of code, naming the calculator; empty on success
    Failure failure = Failure::None;
    // One entry per calculator tried, then one with 104 per member that is
    // not connected.
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
    // was checked").
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

// Writes the file onto the set, one thread per calculator. Waits, as
// discovery does, up to six scans for the set. Writes nothing when more than
// 16 calculators count (see CalculatorSet), and nothing to a calculator
// another updater holds. A calculator that left while it was written fails
// with 104, not with the write error its leaving caused.
[[nodiscard]] DeviceResult writeFile(const CalculatorSet& set, const FileToWrite& file,
                                     const TransferObserver& observer);

// The finish command to the set: 107 when one cannot be opened, 112 when the
// command cannot be written, 104 for a member not connected, 116 for one
// another updater holds. A set of every calculator present sends nothing while
// more than 16 are connected.
[[nodiscard]] DeviceResult sendFinishCommand(const CalculatorSet& set);

// The texts the layer writes itself (causes, and the names of calculators),
// for an application that shows them in its user's language: kDeviceTexts
// templates, in the layer's order, each holding %1, %2... where the English one
// does; the two names of a calculator come last. An empty or missing one stays
// English. Set before any operation begins (any thread may read them).
constexpr int kDeviceTexts = 27;
constexpr int kDeviceTextSerialName = 25; // %1 the serial: "serial %1"
constexpr int kDeviceTextPortName = 26;   // %1 the port: "USB port %1"
void setDeviceTexts(std::vector<std::u16string> templates);

// Diagnostics: the layer keeps no log. It hands each line (UTF-8, control
// characters escaped) to a sink the application may set; nullptr silences it.
// The sink may be called from any thread.
using DeviceLogSink = void (*)(const char* line);
void setDeviceLogSink(DeviceLogSink sink);
