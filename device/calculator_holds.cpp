#include "device/calculator_holds.h"

#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/phrases.h"

#include <algorithm>

CalculatorHolds::CalculatorHolds() : held_(std::make_unique<Held>()) {}

CalculatorHolds::~CalculatorHolds() = default;

void CalculatorHolds::release(const DiskIdentity& calculator) {
    std::lock_guard<std::mutex> guard(held_->lock);
    auto& held = held_->held;
    held.erase(
        std::remove_if(held.begin(), held.end(),
                       [&calculator](const auto& entry) { return entry.first == calculator; }),
        held.end());
}

void CalculatorHolds::releaseAll() {
    std::lock_guard<std::mutex> guard(held_->lock);
    held_->held.clear();
}

CalculatorOutcome claimCalculator(CalculatorHolds& holds, const std::u16string& path,
                                  const diskio::DiskCheck& check) {
    const DiskIdentity& identity = check.identity;
    CalculatorHolds::Held& own = holds.held();
    std::lock_guard<std::mutex> guard(own.lock);
    auto held = own.held.begin();
    while (held != own.held.end() && held->first != identity)
        ++held;
    if (held != own.held.end()) {
        if (held->second->sameDevice(check))
            return {identity, kResultOk, {}, Failure::None};
        // Unplugged since: a calculator with a serial is the same calculator
        // back again; one without could be any other.
        if (!identity.hasSerial())
            return {identity, kResultNoDisk, disconnectedWithoutSerialText(identity),
                    Failure::DisconnectedNoSerial};
        own.held.erase(held);
    }
    diskio::HoldResult taken = diskio::activeDiskSource().holdDisk(path, check);
    if (taken.hold) {
        deviceLog("hold: " + toUtf8(describeDisk(identity)) + " held by this run");
        own.held.emplace_back(identity, std::move(taken.hold));
        return {identity, kResultOk, {}, Failure::None};
    }
    if (taken.heldElsewhere) {
        deviceLog("hold: " + toUtf8(describeDisk(identity)) + " is held by another updater");
        return {identity, kResultHeldElsewhere,
                phrase(Phrase::HeldElsewhere, {describeDisk(identity)}), Failure::HeldElsewhere};
    }
    deviceLog("hold: " + toUtf8(describeDisk(identity)) + ": " + toUtf8(taken.failureText));
    return {identity, kResultDiskOpen, taken.failureText, Failure::DiskOpen};
}
