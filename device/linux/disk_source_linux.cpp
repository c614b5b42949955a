// The update disk on Linux, from the kernel's own list of block devices
// (/sys/dev/block): a whole disk whose SCSI vendor and model are the
// calculator's and which sits on a USB device. It is opened through its device
// node and checked again once open, exclusively, for direct, synchronous
// access. udev's by-id names are not used: two calculators without a serial
// number get one name there, and one of them would be invisible.
#include "base/pacing.h"
#include "base/utf16_text.h"
#include "device/calculators.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/disk_io.h"
#include "device/linux/posix_io.h"
#include "device/linux/sysfs_text.h"
#include "device/phrases.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

namespace {

// Deliberately not settable from outside the process: the identity of a disk
// is the kernel's word. The tests give the process a /sys/dev/block of their
// own in a private mount namespace instead.
const char kSysDevBlock[] = "/sys/dev/block";

// How long a hold waits for udev, which takes a shared lock on a whole disk
// for a moment while it probes it (after a plug-in, or after a write).
constexpr int kHoldAttempts = 20;
constexpr int kHoldPauseMs = 100;

std::string entryOf(dev_t device) {
    return std::string(kSysDevBlock) + "/" + std::to_string(major(device)) + ":" +
           std::to_string(minor(device));
}

// A short file of sysfs, whole; false when it cannot be read.
bool readSysfs(const std::string& path, std::string& value) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return false;
    char buffer[4096];
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0)
        return false;
    value.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// The SCSI vendor and model of a disk's entry, without the inquiry's padding.
bool readVendorAndModel(const std::string& entry, std::string& vendor, std::string& model) {
    if (!readSysfs(entry + "/device/vendor", vendor) || !readSysfs(entry + "/device/model", model))
        return false;
    vendor = sysfs::inquiryText(vendor);
    model = sysfs::inquiryText(model);
    return true;
}

// The USB device a disk's SCSI device hangs from: the nearest folder above it
// that describes a USB device (it has a bus and a device number). Empty when
// the disk is not on USB.
std::string usbDeviceOf(const std::string& entry) {
    char resolved[PATH_MAX];
    if (!::realpath((entry + "/device").c_str(), resolved))
        return {};
    std::string dir = resolved;
    while (!dir.empty() && dir != "/") {
        if (exists(dir + "/busnum") && exists(dir + "/devnum"))
            return dir;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return {};
}

// The kernel's record of device number `device`: a whole disk on USB whose
// SCSI vendor and model are exactly those asked for, and who it is. Empty when
// it is the calculator; else why not.
std::string identityProblem(dev_t device, const char16_t* vendor, const char16_t* product,
                            DiskIdentity& identity) {
    const std::string entry = entryOf(device);
    if (!exists(entry))
        return "the kernel has no record of device " + entry;
    if (exists(entry + "/partition"))
        return "a partition, not a whole disk";
    std::string vendorText, modelText;
    if (!readVendorAndModel(entry, vendorText, modelText))
        return "no SCSI vendor and model (not a USB mass-storage disk)";
    if (vendorText != toUtf8(vendor) || modelText != toUtf8(product))
        return "vendor \"" + vendorText + "\", model \"" + modelText + "\"";
    const std::string usb = usbDeviceOf(entry);
    if (usb.empty())
        return "not on a USB device";
    std::string serial, sequence;
    identity.vendor = toUtf16(vendorText);
    identity.model = toUtf16(modelText);
    identity.serial = readSysfs(usb + "/serial", serial)
                          ? utf16FromByteName(sysfs::attributeText(serial))
                          : std::u16string();
    identity.port = utf16FromByteName(usb.substr(usb.rfind('/') + 1));
    identity.deviceNumber = device;
    identity.diskSequence =
        readSysfs(entry + "/diskseq", sequence) ? std::strtoull(sequence.c_str(), nullptr, 10) : 0;
    return {};
}

// Polled every 500 ms: a disk left out is logged when it is first seen, or
// when the reason changes, not at every scan.
void logLeftOut(const std::string& entry, const std::string& why) {
    static std::mutex lock;
    static std::map<std::string, std::string> logged;
    std::lock_guard<std::mutex> hold(lock);
    std::string& last = logged[entry];
    if (last == why)
        return;
    last = why;
    deviceLog("discovery: left out " + entry + ": " + why);
}

class LinuxHold : public diskio::DiskHold {
public:
    LinuxHold(UniqueFd fd, dev_t device, std::uint64_t sequence)
        : fd_(std::move(fd)), device_(device), sequence_(sequence) {}
    bool sameDevice(const diskio::DiskCheck& now) override {
        // A device number is given again to the next disk plugged in; the
        // kernel's sequence number never is.
        return now.identity.deviceNumber == device_ &&
               (sequence_ == 0 || now.identity.diskSequence == sequence_);
    }

private:
    UniqueFd fd_; // its lock is the hold; closing it (or dying) lets go
    dev_t device_;
    std::uint64_t sequence_;
};

class LinuxDisks : public diskio::DiskSource {
public:
    diskio::MatchRule matchRule() const override { return diskio::MatchRule::Listed; }

    bool listDisks(std::vector<std::u16string>& paths) override {
        paths.clear();
        DIR* listing = ::opendir(kSysDevBlock);
        if (!listing)
            return false;
        std::vector<std::string> entries;
        while (const dirent* entry = ::readdir(listing)) {
            if (entry->d_name[0] != '.')
                entries.emplace_back(entry->d_name);
        }
        ::closedir(listing);
        // The kernel's order is not stable from one scan to the next.
        std::sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
            return sysfs::deviceNumberLess(a, b);
        });
        const std::string vendor = toUtf8(updateVendorId);
        const std::string model = toUtf8(updateProductId);
        for (const std::string& name : entries) {
            const std::string entry = std::string(kSysDevBlock) + "/" + name;
            if (exists(entry + "/partition"))
                continue;
            std::string vendorText, modelText, uevent;
            if (!readVendorAndModel(entry, vendorText, modelText))
                continue;
            if (vendorText != vendor || modelText != model) {
                // Every other disk of the machine is none of our business; one
                // that looks half like the calculator is worth a line.
                if (vendorText == vendor || modelText == model)
                    logLeftOut(entry, "vendor \"" + vendorText + "\", model \"" + modelText + "\"");
                continue;
            }
            const std::string node = readSysfs(entry + "/uevent", uevent)
                                         ? sysfs::devNameFromUevent(uevent)
                                         : std::string();
            if (node.empty()) {
                logLeftOut(entry, "no device node named in its uevent");
                continue;
            }
            paths.push_back(utf16FromByteName("/dev/" + node));
        }
        return true;
    }

    diskio::DiskCheck checkDisk(const std::u16string& path, const char16_t* vendor,
                                const char16_t* product) override {
        diskio::DiskCheck check;
        struct stat info {};
        if (::stat(byteNameFromUtf16(path).c_str(), &info) != 0) {
            check.whyNot = toUtf8(systemErrorText(errno));
        } else if (!S_ISBLK(info.st_mode)) {
            check.whyNot = "not a block device";
        } else {
            check.whyNot = identityProblem(info.st_rdev, vendor, product, check.identity);
        }
        check.isUpdateDisk = check.whyNot.empty();
        if (!check.isUpdateDisk)
            logLeftOut(toUtf8(path), check.whyNot);
        return check;
    }

    diskio::OpenResult openDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override {
        const std::string node = byteNameFromUtf16(path);
        // The node is opened and the descriptor checked afterwards, so that
        // what is written is what was checked, whatever the node is by then.
        // O_EXCL refuses a disk whose file system is mounted: raw sectors
        // written under a mounted file system would corrupt it.
        constexpr int kFlags = O_RDWR | O_EXCL | O_SYNC | O_CLOEXEC;
        bool direct = true;
        UniqueFd fd(::open(node.c_str(), kFlags | O_DIRECT));
        if (!fd.valid() && errno == EINVAL) {
            direct = false;
            fd = UniqueFd(::open(node.c_str(), kFlags));
        }
        if (!fd.valid()) {
            const int error = errno;
            if (error == EACCES || error == EPERM)
                return {nullptr, phrase(Phrase::PermissionDenied, {path}),
                        diskio::OpenRefusal::AccessDenied};
            if (error == EBUSY)
                return {nullptr, phrase(Phrase::InUse, {path}), diskio::OpenRefusal::InUse};
            return {nullptr, systemErrorText(error) + u" on " + path};
        }
        if (std::u16string why = refusal(fd.get(), expected, path); !why.empty())
            return {nullptr, why};
        if (!direct)
            deviceLog("open: " + node + " refuses O_DIRECT, using O_SYNC and flushes");
        return {std::make_unique<PosixIo>(std::move(fd), !direct), {}};
    }

    diskio::HoldResult holdDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override {
        diskio::HoldResult result;
        // Read-only and without O_EXCL: the hold must not keep this run's own
        // transfers from opening the disk exclusively.
        UniqueFd fd(::open(byteNameFromUtf16(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid()) {
            result.failureText = systemErrorText(errno) + u" on " + path;
            return result;
        }
        if (std::u16string why = refusal(fd.get(), expected, path); !why.empty()) {
            result.failureText = why;
            return result;
        }
        // An exclusive lock on the whole disk, as systemd asks of every
        // program that writes one; udev leaves the disk alone meanwhile.
        for (int attempt = 1; ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0; ++attempt) {
            if (errno != EWOULDBLOCK) {
                result.failureText = systemErrorText(errno) + u" on " + path;
                return result;
            }
            if (attempt == kHoldAttempts) {
                result.heldElsewhere = true;
                return result;
            }
            pacing::pauseMs(kHoldPauseMs);
        }
        result.hold = std::make_unique<LinuxHold>(std::move(fd), expected.identity.deviceNumber,
                                                  expected.identity.diskSequence);
        return result;
    }

private:
    // Why an open descriptor is not the disk that was checked; empty when it is.
    static std::u16string refusal(int fd, const diskio::DiskCheck& expected,
                                  const std::u16string& path) {
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISBLK(opened.st_mode))
            return phrase(Phrase::RefusedNotBlock, {path});
        if (opened.st_rdev != expected.identity.deviceNumber)
            return phrase(Phrase::RefusedChanged, {path});
        DiskIdentity now;
        const std::string problem = identityProblem(
            opened.st_rdev, expected.identity.vendor.c_str(), expected.identity.model.c_str(), now);
        if (!problem.empty())
            return phrase(Phrase::RefusedNotCalculator, {path, toUtf16(problem)});
        if (now != expected.identity)
            return phrase(Phrase::RefusedAnother, {path});
        return {};
    }
};

} // namespace

namespace diskio {
DiskSource& nativeDiskSource() {
    static LinuxDisks disks;
    return disks;
}
} // namespace diskio
