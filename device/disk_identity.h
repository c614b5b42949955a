// Who an update disk is, as opposed to where it is listed. A listed path can
// lead to another disk tomorrow; the calculators of an update run are
// recognised by this value instead, so that a disk plugged in mid-run is
// never taken for one of them.
#pragma once

#include <cstdint>
#include <string>

struct DiskIdentity {
    // Linux: the SCSI inquiry strings the kernel reports (trailing spaces
    // trimmed). Windows: the normalised ven_ and prod_ fields of the path.
    std::u16string vendor;
    std::u16string model;
    // The USB serial number; empty when the device has none.
    std::u16string serial;
    // Where it is while it stays connected: the USB port (Linux: the name of
    // its USB device in sysfs, "1-2"; Windows: the instance part of the
    // interface path), the device number and the kernel's sequence number of
    // the disk (Linux; 0 elsewhere). Only these tell two calculators without
    // a serial number apart, and only while they stay connected.
    std::u16string port;
    std::uint64_t deviceNumber = 0;
    std::uint64_t diskSequence = 0;

    [[nodiscard]] bool hasSerial() const { return !serial.empty(); }

    // A calculator with a serial is the same calculator wherever and whenever
    // it is plugged in; one without is the same only where it is now.
    bool operator==(const DiskIdentity& other) const {
        if (vendor != other.vendor || model != other.model || serial != other.serial)
            return false;
        return hasSerial() || (port == other.port && deviceNumber == other.deviceNumber &&
                               diskSequence == other.diskSequence);
    }
    bool operator!=(const DiskIdentity& other) const { return !(*this == other); }
};

// How a calculator is named to the user: "serial 0001", or "USB port 1-2"
// for one without a serial number.
[[nodiscard]] std::u16string describeDisk(const DiskIdentity& identity);

// The calculator's short name in lists and JSON: its serial, or "port 1-2".
[[nodiscard]] std::u16string calculatorName(const DiskIdentity& identity);

// A text that is the same for two identities exactly when they are equal,
// for keys of maps and of the cross-process hold.
[[nodiscard]] std::u16string identityKey(const DiskIdentity& identity);

// The cause of a calculator without a serial number that left during a run:
// nothing tells it from another one plugged in since.
[[nodiscard]] std::u16string disconnectedWithoutSerialText(const DiskIdentity& identity);
