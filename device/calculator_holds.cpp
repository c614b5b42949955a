#include "base/utf16_text.h"
#include "device/calculators.h"
#include "device/device_log.h"

CalculatorOutcome CalculatorHolds::claim(const std::u16string& path,
                                         const diskio::DiskCheck& check) {
    const DiskIdentity& identity = check.identity;
    std::lock_guard<std::mutex> guard(lock_);
    auto held = held_.begin();
    while (held != held_.end() && held->first != identity)
        ++held;
    if (held != held_.end()) {
        if (held->second->sameDevice(check))
            return {identity, kResultOk, {}};
        // Unplugged since: a calculator with a serial is the same calculator
        // back again; one without could be any other.
        if (!identity.hasSerial())
            return {identity, kResultNoDisk, disconnectedWithoutSerialText(identity)};
        held_.erase(held);
    }
    diskio::HoldResult taken = diskio::activeDiskSource().holdDisk(path, check);
    if (taken.hold) {
        deviceLog("hold: " + toUtf8(describeDisk(identity)) + " held by this run");
        held_.emplace_back(identity, std::move(taken.hold));
        return {identity, kResultOk, {}};
    }
    if (taken.heldElsewhere) {
        deviceLog("hold: " + toUtf8(describeDisk(identity)) + " is held by another updater");
        return {identity, kResultHeldElsewhere,
                phrase(Phrase::HeldElsewhere, {describeDisk(identity)})};
    }
    deviceLog("hold: " + toUtf8(describeDisk(identity)) + ": " + toUtf8(taken.failureText));
    return {identity, kResultDiskOpen, taken.failureText};
}

void CalculatorHolds::releaseAll() {
    std::lock_guard<std::mutex> guard(lock_);
    held_.clear();
}
