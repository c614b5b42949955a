// The update disk on Windows: the present disk-class device interfaces, from
// SetupAPI, opened for unbuffered write-through access.
#include "device/device_log.h"
#include "device/disk_io.h"
#include "device/disk_testing.h"
#include "device/windows/win_handles.h"

#include <cstddef>
#include <cstdlib>

diskio::BlockIoPtr makeWinIo(HANDLE handle);

namespace {

// GUID_DEVINTERFACE_DISK
const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

constexpr DWORD kDiskOpenFlags =
    FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS; // 0xB0000000

// The record's path ends at its terminator or at the end of the bytes that
// were allocated for it, whichever comes first: nothing promises a terminator.
std::u16string devicePathOf(const SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD bytes) {
    constexpr std::size_t kPathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    std::u16string path;
    if (bytes <= kPathAt)
        return path;
    const std::size_t units = (bytes - kPathAt) / sizeof(wchar_t);
    for (std::size_t i = 0; i < units && detail->DevicePath[i] != 0; ++i)
        path += static_cast<char16_t>(detail->DevicePath[i]);
    return path;
}

struct DetailFree {
    void operator()(void* p) const { std::free(p); }
};

bool listInterfaces(std::vector<std::u16string>& paths) {
    UniqueDevInfo set = makeUniqueDevInfo(::SetupDiGetClassDevsW(
        &kDiskInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        deviceLog("discovery: SetupDiGetClassDevsW failed");
        return false;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kDiskInterfaceClass, index, &data))
            break;
        DWORD required = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set.get(), &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        std::unique_ptr<void, DetailFree> memory(std::malloc(required));
        if (!memory)
            continue;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(memory.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!::SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail, required, nullptr,
                                                nullptr))
            continue;
        paths.push_back(devicePathOf(detail, required));
    }
    return true;
}

class WindowsDisks : public diskio::DiskSource {
public:
    diskio::MatchRule matchRule() const override { return diskio::MatchRule::InterfacePath; }

    bool listDisks(std::vector<std::u16string>& paths) override {
        paths.clear();
        return listInterfaces(paths);
    }

    // The interface path names the device; Windows opens what it names.
    diskio::OpenResult openDisk(const std::u16string& path, const diskio::DiskCheck&) override {
        const HANDLE disk = ::CreateFileW(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, kDiskOpenFlags, nullptr);
        if (disk == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            return {nullptr, windowsErrorText(error) + u" (" + path + u")"};
        }
        return {makeWinIo(disk), {}};
    }
};

} // namespace

std::u16string diskio::testing::devicePathOfDetail(const void* detail, unsigned long bytes) {
    return devicePathOf(static_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail), bytes);
}

namespace diskio {
DiskSource& nativeDiskSource() {
    static WindowsDisks disks;
    return disks;
}
} // namespace diskio
