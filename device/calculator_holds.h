// The calculators one update run holds against every other writer, whether
// another run of this process or another updater: each from the run's first
// write to it until its finish command, so that two updaters never write one
// calculator in turns. Safe from any thread.
#pragma once

#include "device/disk_discovery.h"
#include "device/update_disk.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// What one calculator made of an operation.
struct DiskOutcome {
    DiskIdentity identity;
    ResultCode code = kResultOk;
    std::u16string cause; // empty on success
};

class CalculatorHolds {
public:
    CalculatorHolds() = default;
    CalculatorHolds(const CalculatorHolds&) = delete;
    CalculatorHolds& operator=(const CalculatorHolds&) = delete;

    // Before this run writes to the disk found: keeps its hold, or takes it.
    // kResultOk when the disk may be written; otherwise why not: held by
    // another updater (116), a calculator without a serial number that was
    // unplugged since this run first wrote to it (104), or the hold cannot be
    // had (107).
    [[nodiscard]] DiskOutcome claim(const FoundDisk& disk);
    // Lets go of every calculator.
    void releaseAll();

private:
    std::mutex lock_;
    std::vector<std::pair<DiskIdentity, diskio::DiskHoldPtr>> held_;
};

// The cause of a calculator without a serial number that left during a run:
// nothing tells it from another one plugged in since.
[[nodiscard]] std::u16string disconnectedWithoutSerialText(const DiskIdentity& identity);
