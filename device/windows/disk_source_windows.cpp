// The update disk on Windows: the present disk-class device interfaces, from
// SetupAPI, opened for unbuffered write-through access.
#include "device/device_log.h"
#include "device/disk_io.h"
#include "device/disk_testing.h"
#include "device/windows/win_handles.h"

#include <winioctl.h>

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

// Whether a handle opened on a disk still reaches a device that is there: a
// calculator unplugged leaves its handles dead, even when another one is
// plugged into the same port and takes the same path. True when the system
// cannot tell (a file standing in for a disk).
bool stillConnected(HANDLE device) {
    DWORD bytes = 0;
    if (::DeviceIoControl(device, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0, &bytes,
                          nullptr))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_PARAMETER;
}

// Opened for queries only (no access asked): it neither reads nor writes, and
// shares everything.
UniqueHandle queryHandle(const std::u16string& path) {
    return makeUniqueHandle(::CreateFileW(toWide(path).c_str(), 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
}

// Whether two handles reach one object, where the system names its objects
// (files do; disks may not). True when it cannot tell.
bool sameObject(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    if (!::GetFileInformationByHandle(a, &x) || !::GetFileInformationByHandle(b, &y))
        return true;
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

class WindowsHold : public diskio::DiskHold {
public:
    WindowsHold(UniqueHandle name, UniqueHandle device, std::u16string path)
        : name_(std::move(name)), device_(std::move(device)), path_(std::move(path)) {}
    bool sameDevice(const diskio::DiskCheck&) override {
        if (!stillConnected(device_.get()))
            return false;
        const UniqueHandle now = queryHandle(path_);
        return now && sameObject(device_.get(), now.get());
    }

private:
    UniqueHandle name_;   // the named object whose existence is the hold
    UniqueHandle device_; // what the hold was taken on
    std::u16string path_;
};

// The hold's name: one per calculator, seen by every session of the machine.
std::wstring holdName(const DiskIdentity& identity, const wchar_t* scope) {
    std::wstring name = std::wstring(scope) + L"Orvane.VelaUpdate.";
    for (char16_t c : identityKey(identity))
        name += c == u'\\' ? L'/' : static_cast<wchar_t>(c);
    return name.substr(0, MAX_PATH - 1);
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
            const diskio::OpenRefusal refusal =
                error == ERROR_ACCESS_DENIED       ? diskio::OpenRefusal::AccessDenied
                : error == ERROR_SHARING_VIOLATION ? diskio::OpenRefusal::InUse
                                                   : diskio::OpenRefusal::Other;
            return {nullptr, windowsErrorText(error) + u" (" + path + u")", refusal};
        }
        return {makeWinIo(disk), {}};
    }

    // A named object that exists as long as its creator keeps it open: whoever
    // creates it holds the calculator, and the system lets go of it when that
    // process ends, however it ends. No thread owns it, so it may be let go on
    // another thread than the one that took it.
    diskio::HoldResult holdDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override {
        diskio::HoldResult result;
        UniqueHandle device = queryHandle(path);
        if (!device) {
            result.failureText = windowsErrorText(::GetLastError()) + u" (" + path + u")";
            return result;
        }
        for (const wchar_t* scope : {L"Global\\", L"Local\\"}) {
            UniqueHandle name = makeUniqueHandle(
                ::CreateMutexW(nullptr, FALSE, holdName(expected.identity, scope).c_str()));
            const DWORD error = ::GetLastError();
            if (name && error != ERROR_ALREADY_EXISTS) {
                result.hold =
                    std::make_unique<WindowsHold>(std::move(name), std::move(device), path);
                return result;
            }
            // Made by another user, whose object this one may not open: held too.
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
                result.heldElsewhere = true;
                return result;
            }
        }
        result.failureText = windowsErrorText(::GetLastError());
        return result;
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
