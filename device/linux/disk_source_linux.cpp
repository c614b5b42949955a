// The update disk on Linux: udev's /dev/disk/by-id links, checked against the
// kernel's own record of the device they lead to, and opened exclusively for
// direct, synchronous access.
#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/disk_io.h"
#include "device/disk_testing.h"
#include "device/linux/posix_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::mutex rootsLock;
std::string testByIdDir;
std::string testSysDevBlockDir;

std::string byIdDir() {
    {
        std::lock_guard<std::mutex> hold(rootsLock);
        if (!testByIdDir.empty())
            return testByIdDir;
    }
    // Only where to look: whatever is found there passes the same checks.
    const char* dir = std::getenv("UPDATER_DISK_BY_ID_DIR");
    return dir && *dir ? dir : "/dev/disk/by-id";
}

// Deliberately not taken from the environment: the identity of a disk is the
// kernel's word, and nothing outside the process may stand in for it.
std::string sysDevBlockDir() {
    std::lock_guard<std::mutex> hold(rootsLock);
    return testSysDevBlockDir.empty() ? "/sys/dev/block" : testSysDevBlockDir;
}

// A short attribute of sysfs without its trailing spaces and newline; false
// when it cannot be read. SCSI inquiry strings are padded with spaces.
bool readAttribute(const std::string& path, std::string& value) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return false;
    char buffer[256];
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0)
        return false;
    value.assign(buffer, static_cast<std::size_t>(n));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\n'))
        value.pop_back();
    return true;
}

// The kernel's record of device number `device`: a whole disk whose SCSI
// vendor and model are exactly those asked for. Empty when it is; else why not.
std::string identityProblem(dev_t device, const char16_t* vendor, const char16_t* product,
                            DiskIdentity& identity) {
    const std::string entry = sysDevBlockDir() + "/" + std::to_string(major(device)) + ":" +
                              std::to_string(minor(device));
    struct stat info {};
    if (::stat(entry.c_str(), &info) != 0)
        return "the kernel has no record of device " + entry;
    if (::access((entry + "/partition").c_str(), F_OK) == 0)
        return "a partition, not a whole disk";
    std::string vendorText, modelText;
    if (!readAttribute(entry + "/device/vendor", vendorText) ||
        !readAttribute(entry + "/device/model", modelText))
        return "no SCSI vendor and model (not a USB mass-storage disk)";
    if (vendorText != toUtf8(vendor) || modelText != toUtf8(product))
        return "vendor \"" + vendorText + "\", model \"" + modelText + "\"";
    identity.vendor = toUtf16(vendorText);
    identity.model = toUtf16(modelText);
    return {};
}

class LinuxDisks : public diskio::DiskSource {
public:
    diskio::MatchRule matchRule() const override { return diskio::MatchRule::LinuxById; }

    bool listDisks(std::vector<std::u16string>& paths) override {
        paths.clear();
        const std::string dir = byIdDir();
        DIR* listing = ::opendir(dir.c_str());
        // No by-id folder at all simply means no disk with an id is present.
        if (!listing)
            return errno == ENOENT;
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(listing))
            names.emplace_back(entry->d_name);
        ::closedir(listing);
        // The names stay byte for byte what the folder holds: the path opened
        // later is this one, not a look-alike decoded from it.
        for (const std::string& name : wholeDiskByIdNames(std::move(names)))
            paths.push_back(utf16FromByteName(dir + "/" + name));
        return true;
    }

    diskio::DiskCheck checkDisk(const std::u16string& path, const char16_t* vendor,
                                const char16_t* product) override {
        diskio::DiskCheck check;
        struct stat info {};
        if (::stat(byteNameFromUtf16(path).c_str(), &info) != 0) {
            check.whyNot = toUtf8(systemErrorText(errno));
            return check;
        }
        if (!S_ISBLK(info.st_mode)) {
            check.whyNot = "not a block device";
            return check;
        }
        check.identity = identityFromPath(path, matchRule(), vendor, product);
        check.whyNot = identityProblem(info.st_rdev, vendor, product, check.identity);
        check.isUpdateDisk = check.whyNot.empty();
        check.deviceNumber = info.st_rdev;
        return check;
    }

    diskio::OpenResult openDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override {
        const std::string link = byteNameFromUtf16(path);
        char target[PATH_MAX];
        if (!::realpath(link.c_str(), target))
            return {nullptr, systemErrorText(errno) + u" on " + path};
        const std::u16string device = utf16FromByteName(target);
        // The link itself is opened and the descriptor checked afterwards, so
        // that what is written is what was checked, whatever the link does.
        // O_EXCL refuses a disk whose file system is mounted: raw sectors
        // written under a mounted file system would corrupt it.
        constexpr int kFlags = O_RDWR | O_EXCL | O_SYNC | O_CLOEXEC;
        bool direct = true;
        UniqueFd fd(::open(link.c_str(), kFlags | O_DIRECT));
        if (!fd.valid() && errno == EINVAL) {
            direct = false;
            fd = UniqueFd(::open(link.c_str(), kFlags));
        }
        if (!fd.valid()) {
            const int error = errno;
            if (error == EACCES || error == EPERM)
                return {nullptr, u"Permission denied on " + device +
                                     u": install the udev rule (see README)"};
            if (error == EBUSY)
                return {nullptr, device + u" is in use (a mounted file system?): unmount it"};
            return {nullptr, systemErrorText(error) + u" on " + device};
        }
        const std::u16string refused = u"Refused " + device + u": ";
        struct stat opened {};
        struct stat now {};
        if (::fstat(fd.get(), &opened) != 0 || !S_ISBLK(opened.st_mode))
            return {nullptr, refused + u"not a block device"};
        if (::stat(link.c_str(), &now) != 0 || now.st_rdev != opened.st_rdev ||
            opened.st_rdev != expected.deviceNumber)
            return {nullptr, refused + u"the link changed since the disk was found"};
        DiskIdentity identity = expected.identity;
        const std::string problem =
            identityProblem(opened.st_rdev, expected.identity.vendor.c_str(),
                            expected.identity.model.c_str(), identity);
        if (!problem.empty())
            return {nullptr,
                    refused + u"not the calculator's update disk (" + toUtf16(problem) + u")"};
        if (!direct)
            deviceLog("open: " + std::string(target) +
                      " refuses O_DIRECT, using O_SYNC and flushes");
        return {std::make_unique<PosixIo>(std::move(fd), !direct), {}};
    }
};

} // namespace

namespace diskio {
DiskSource& nativeDiskSource() {
    static LinuxDisks disks;
    return disks;
}

void testing::setLinuxDiskRoots(const std::string& byIdDir, const std::string& sysDevBlockDir) {
    std::lock_guard<std::mutex> hold(rootsLock);
    testByIdDir = byIdDir;
    testSysDevBlockDir = sysDevBlockDir;
}
} // namespace diskio
