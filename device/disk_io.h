// The narrow seam between the portable device logic and the operating system:
// list the present disks with their system paths, check who a disk is, open a
// disk for raw access, hold it for a run, open a file for reading,
// read/write/position/flush (closing is the handle's destructor), run threads
// that return an integer exit code. One implementation per OS under linux/
// and windows/, plus the virtual calculator, which replaces only the disks.
// Private to the device layer, like everything of it but calculators.h.
#pragma once

#include "device/disk_identity.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace diskio {

// An open file or disk; the destructor closes it. One thread at a time.
class BlockIo {
public:
    virtual ~BlockIo() = default;
    [[nodiscard]] virtual bool seek(std::uint64_t pos) = 0;
    // The current position, without moving it.
    [[nodiscard]] virtual bool tell(std::uint64_t& pos) = 0;
    // got may be less than len at the end of a file.
    [[nodiscard]] virtual bool read(void* buffer, std::size_t len, std::size_t& got) = 0;
    // True only when all len bytes were written.
    [[nodiscard]] virtual bool write(const void* buffer, std::size_t len) = 0;
    [[nodiscard]] virtual bool flush() = 0;
    [[nodiscard]] virtual bool size(std::uint64_t& bytes) = 0;
    // The system's text for the last failed call on this handle.
    [[nodiscard]] virtual std::u16string lastErrorText() const = 0;
};
using BlockIoPtr = std::unique_ptr<BlockIo>;

// Why an open failed, as far as it tells the user what to do.
enum class OpenRefusal {
    Other,
    AccessDenied, // the system refuses this user the disk
    InUse,        // another program has it (a mounted file system)
};

struct OpenResult {
    BlockIoPtr io;              // null when the open failed
    std::u16string failureText; // why, for the user; empty on success
    OpenRefusal refusal = OpenRefusal::Other;
};

// How a listed path is recognised as the calculator's update disk.
enum class MatchRule {
    InterfacePath, // Windows interface path containing the exact pattern
    Listed,        // the source lists only disks that it describes as calculators
};

// What discovery learnt of a listed disk whose name matched.
struct DiskCheck {
    bool isUpdateDisk = false;
    // Linux: with the device number and sequence number the path led to when
    // it was checked, so that a device changed before the open is noticed.
    DiskIdentity identity;
    std::string whyNot; // why it is not the update disk, for the log
};

// One calculator held by one update run against every other writer (another
// run, another updater process), from the run's first write to its finish
// command. Let go when destroyed, and by the system when the process ends,
// however it ends.
class DiskHold {
public:
    virtual ~DiskHold() = default;
    // Still the very device the hold was taken on: neither unplugged since
    // nor replaced by another calculator at the same place.
    [[nodiscard]] virtual bool sameDevice(const DiskCheck& now) = 0;
};
using DiskHoldPtr = std::unique_ptr<DiskHold>;

struct HoldResult {
    DiskHoldPtr hold;           // null when not held
    bool heldElsewhere = false; // another run or updater holds it
    std::u16string failureText; // why not, for the user
};

class DiskSource {
public:
    virtual ~DiskSource() = default;
    [[nodiscard]] virtual MatchRule matchRule() const = 0;
    // Present disks in enumeration order. False when the list could not be had.
    [[nodiscard]] virtual bool listDisks(std::vector<std::u16string>& paths) = 0;
    // Whether a listed disk whose name matched really is the update disk of
    // vendor and product, and who it is. Sources whose path is the identity
    // (Windows interface paths, the virtual calculator) take it from the path.
    [[nodiscard]] virtual DiskCheck checkDisk(const std::u16string& path, const char16_t* vendor,
                                              const char16_t* product);
    // Raw sector access for reading and writing, write-through and unbuffered.
    // The opened disk must still be the one `expected` describes; otherwise
    // nothing is opened.
    [[nodiscard]] virtual OpenResult openDisk(const std::u16string& path,
                                              const DiskCheck& expected) = 0;
    // Holds the disk found at path for this run, or says who does.
    [[nodiscard]] virtual HoldResult holdDisk(const std::u16string& path,
                                              const DiskCheck& expected) = 0;
};

// The disks the device layer uses now: an installed override (the virtual
// calculator), else the virtual calculator when UPDATER_VIRTUAL_CALCULATOR
// asks for it, else the operating system's.
[[nodiscard]] DiskSource& activeDiskSource();
// nullptr returns to the default choice. The caller keeps ownership.
void setDiskSourceOverride(DiskSource* source);

// --- implemented once per operating system ---

[[nodiscard]] DiskSource& nativeDiskSource();

// Reading, shared with other readers, random access. Regular files only: a
// device or a pipe has no size to install and may never end.
[[nodiscard]] OpenResult openFileForReading(const std::u16string& path);

struct ThreadOutcome {
    bool started = false;  // a thread was created for the job
    bool haveCode = false; // its exit code could be read
    int code = 0;
};
// Starts every job on a thread of its own at once and waits until all of them
// have ended. The outcomes come back in the order of the jobs.
[[nodiscard]] std::vector<ThreadOutcome> runThreads(const std::vector<std::function<int()>>& jobs);

// --- portable ---

// runThreads, unless a test set a runner of its own (disk_testing.h).
[[nodiscard]] std::vector<ThreadOutcome>
runTransferThreads(const std::vector<std::function<int()>>& jobs);

} // namespace diskio
