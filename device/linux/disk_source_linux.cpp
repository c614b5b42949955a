// The update disk on Linux: udev's /dev/disk/by-id links, opened exclusively
// for direct, synchronous access.
#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/disk_discovery.h"
#include "device/disk_io.h"
#include "device/linux/posix_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string byIdDir() {
    const char* dir = std::getenv("UPDATER_DISK_BY_ID_DIR");
    return dir && *dir ? dir : "/dev/disk/by-id";
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
        for (const std::string& name : wholeDiskByIdNames(std::move(names)))
            paths.push_back(toUtf16(dir + "/" + name));
        return true;
    }

    diskio::OpenResult openDisk(const std::u16string& path) override {
        const std::string link = toUtf8(path);
        char target[PATH_MAX];
        if (!::realpath(link.c_str(), target))
            return {nullptr, systemErrorText(errno) + u" on " + path};
        const std::u16string device = toUtf16(target);
        // O_EXCL refuses a disk whose file system is mounted: raw sectors
        // written under a mounted file system would corrupt it.
        constexpr int kFlags = O_RDWR | O_EXCL | O_SYNC | O_CLOEXEC;
        bool direct = true;
        UniqueFd fd(::open(target, kFlags | O_DIRECT));
        if (!fd.valid() && errno == EINVAL) {
            direct = false;
            fd = UniqueFd(::open(target, kFlags));
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
} // namespace diskio
