// Taking and keeping the holds of a run (CalculatorHolds in calculators.h).
// Private to the device layer.
#pragma once

#include "device/calculators.h"
#include "device/disk_io.h"

#include <mutex>
#include <utility>
#include <vector>

struct CalculatorHolds::Held {
    std::mutex lock;
    std::vector<std::pair<DiskIdentity, diskio::DiskHoldPtr>> held;
};

// Before a run writes to the calculator found at path: keeps its hold, or
// takes it. kResultOk when it may be written; otherwise why not: held by
// another updater (116), a calculator without a serial number that was
// unplugged since the run first wrote to it (104), or the hold cannot be had
// (107).
[[nodiscard]] CalculatorOutcome claimCalculator(CalculatorHolds& holds, const std::u16string& path,
                                                const diskio::DiskCheck& check);
