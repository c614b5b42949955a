// An emulated calculator in update mode: one or more update disks that live in
// memory and play the calculator's side of the control sector. It replaces
// only the disks; firmware files, threads and pauses stay the real ones.
//
// Chosen at run time by UPDATER_VIRTUAL_CALCULATOR (docs/virtual-calculator.md), or installed
// by a test through this interface. A unit keeps every data sector written to
// it (sparse) and a trace of every operation, and can be told to misbehave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace virtual_calculator {

// More than the updater takes, so that a test can present one too many.
constexpr int kMaxUnits = 32;

struct Options {
    int units = 1;                   // update disks presented at once (1..32)
    bool absent = false;             // no disk until setAbsent(false)
    int appearMs = 0;                // the disks show up this long after install
    std::string dir;                 // where unitN.img and unitN.trace are left; empty: nowhere
    std::int64_t refuseWriteAt = -1; // writes starting here fail
    int refuseUnit = -1;             // ... on this unit only; -1: on every unit
    bool progressUnanswered = false; // progress commands get no status
    int vanishAfterWrites = -1;      // unit 0 is unplugged after this many data writes
    int vanishMs = 0;                // ... and comes back this long after
    int unopenableUnit = -1;         // opening this unit fails
    int slowMs = 0;                  // every read, write and flush takes this much longer
    int arriveMs = 0;                // unit N shows up N times this long after the first
    bool leaveAfterFinish = false;   // a unit is unplugged once it has taken the finish command
    int againUnit = -1;              // ... and this one is plugged in again, once,
    int againMs = 1000;              // this long after it left
    bool noSerial = false;           // the units have no USB serial number
    int renewMs = -1;                // with leave_after_finish: another calculator takes the
                                     // unit's place this long after (-1: none)
};

// Parses "1", "" or "key=value,key=value" (keys: units, absent, appear_ms,
// dir, refuse_write_at, no_progress_answer, vanish_after_writes, vanish_ms,
// unopenable, slow_ms, refuse_unit, arrive_ms, leave_after_finish, again, again_ms, no_serial,
// renew_ms).
// False, with a
// reason, on an unknown key or a bad number.
[[nodiscard]] bool parseOptions(const std::string& text, Options& out, std::string& error);

// Makes a fresh calculator with these options the active disk source.
void install(const Options& options);
// Returns to the operating system's disks; the calculator's files are left
// in its folder first.
void uninstall();
[[nodiscard]] bool installed();

// Installs from UPDATER_VIRTUAL_CALCULATOR when it is set and nothing is
// installed yet. True when a calculator is installed afterwards.
bool installFromEnvironment();

enum class Op { Read, Write, Flush };
struct TraceEntry {
    Op op = Op::Read;
    std::uint64_t pos = 0;
    std::uint64_t length = 0;
    std::string command; // "PROGRESS 50", "FINISH"; empty for data
    bool failed = false;
};
// "R 87040 15360", "W 87040 512 PROGRESS 50", "F 0 0", with " FAILED" appended.
[[nodiscard]] std::string traceLine(const TraceEntry& entry);

[[nodiscard]] std::vector<TraceEntry> trace(int unit);
[[nodiscard]] int finishCount(int unit);
// Bytes as stored; sectors never written read as zero.
[[nodiscard]] std::vector<std::uint8_t> readUnit(int unit, std::uint64_t offset,
                                                 std::size_t length);
// One past the last byte ever written as data.
[[nodiscard]] std::uint64_t writtenExtent(int unit);

// Faults, effective at once.
void setAbsent(bool absent);
void refuseWritesAt(std::int64_t pos);
// Unplugs the unit (its open handles fail, it is not listed) or plugs it in
// again with the same serial.
void setPluggedIn(int unit, bool pluggedIn);
// After `writes` more data writes the unit disappears: its open handles fail
// and it is not listed; backAfterMs later it is listed again (negative: never).
void vanishAfterWrites(int unit, int writes, int backAfterMs);

} // namespace virtual_calculator
