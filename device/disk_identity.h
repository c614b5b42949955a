// Who an update disk is, as opposed to where it is listed. A by-id link or an
// interface path can lead to another disk tomorrow; the calculators of an
// update run are recognised by this value instead, so that a disk plugged in
// mid-run is never taken for one of them.
#pragma once

#include <string>

struct DiskIdentity {
    // Linux: the SCSI inquiry strings the kernel reports (trailing spaces
    // trimmed). Windows: the normalised ven_ and prod_ fields of the path.
    std::u16string vendor;
    std::u16string model;
    // The serial in the by-id name or the interface path; empty when the
    // device has none.
    std::u16string serial;

    bool operator==(const DiskIdentity& other) const {
        return vendor == other.vendor && model == other.model && serial == other.serial;
    }
    bool operator!=(const DiskIdentity& other) const { return !(*this == other); }
};

// "serial 0001" when there is a serial, else "Orvane Vela update": how a
// calculator is named to the user.
[[nodiscard]] std::u16string describeDisk(const DiskIdentity& identity);
