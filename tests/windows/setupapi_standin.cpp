// SetupAPI for the disk tests under Wine: the four functions the device layer
// imports, listing the disk interfaces a test chooses instead of the machine's
// (Wine lists no USB disk). Linked into test builds of Updater.exe and
// vela-update.exe ahead of the import library, so the product's enumeration,
// its match of the interface path and its CreateFileW of that path run as
// they do on Windows; the test makes each path openable with a link of that
// name in the prefix's dosdevices folder.
//
// UPDATER_TEST_DISK_LIST names a UTF-8 text file, read again at each
// SetupDiGetClassDevsW as a fresh look at the present devices: one interface
// path per line. A line "after-write <file>" ends the list used until that
// file is first written (its last-write time changes); the lines after it are
// the list from then on, as when a calculator is swapped during an update.
#define _SETUPAPI_
#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

// GUID_DEVINTERFACE_DISK
const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

constexpr unsigned kListTag = 0x44495354; // a set made here, not a stray pointer

struct DeviceList {
    unsigned tag = kListTag;
    std::vector<std::wstring> paths;
};

std::atomic<int> openLists{0};

// Reports at exit every set a caller never handed back.
struct LeakCheck {
    ~LeakCheck() {
        if (openLists.load() != 0)
            std::fprintf(stderr,
                         "setupapi stand-in: %d device information set(s) never destroyed\n",
                         openLists.load());
    }
} leakCheck;

std::wstring wide(const std::string& utf8) {
    const int units =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                          units);
    return out;
}

bool lastWrite(const std::wstring& file, FILETIME& when) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data))
        return false;
    when = data.ftLastWriteTime;
    return true;
}

// The trigger's last-write time when it was first seen, and whether it has
// changed since; once it has, the later list stays.
std::mutex triggerLock;
bool triggerSeen = false;
bool triggered = false;
FILETIME triggerFirst{};

bool writtenSinceFirstLook(const std::wstring& file) {
    std::lock_guard<std::mutex> hold(triggerLock);
    FILETIME now{};
    if (triggered || !lastWrite(file, now))
        return triggered;
    if (!triggerSeen) {
        triggerSeen = true;
        triggerFirst = now;
    }
    triggered = ::CompareFileTime(&now, &triggerFirst) != 0;
    return triggered;
}

std::vector<std::wstring> presentPaths() {
    std::vector<std::wstring> paths;
    wchar_t name[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"UPDATER_TEST_DISK_LIST", name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return paths;
    std::ifstream in(name);
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::string after = "after-write ";
        if (line.compare(0, after.size(), after) == 0) {
            if (!writtenSinceFirstLook(wide(line.substr(after.size()))))
                break;
            paths.clear();
            continue;
        }
        paths.push_back(wide(line));
    }
    return paths;
}

DeviceList* listOf(HDEVINFO set) {
    auto* list = static_cast<DeviceList*>(set);
    if (set == nullptr || set == INVALID_HANDLE_VALUE || list->tag != kListTag) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return list;
}

} // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD flags) {
    auto* list = new DeviceList;
    // Only present disk interfaces exist here; any other class is empty.
    if (classGuid && ::IsEqualGUID(*classGuid, kDiskInterfaceClass) &&
        (flags & DIGCF_DEVICEINTERFACE) != 0)
        list->paths = presentPaths();
    openLists.fetch_add(1);
    return list;
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* classGuid,
                                           DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    DeviceList* list = listOf(set);
    if (!list)
        return FALSE;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !classGuid) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!::IsEqualGUID(*classGuid, kDiskInterfaceClass) || index >= list->paths.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = *classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

// As SetupAPI does: the size needed comes back with ERROR_INSUFFICIENT_BUFFER
// when no or too small a buffer is given, and the record's cbSize must be
// that of the fixed part.
WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                DWORD detailBytes, PDWORD requiredBytes,
                                                PSP_DEVINFO_DATA) {
    DeviceList* list = listOf(set);
    if (!list)
        return FALSE;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > list->paths.size()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::wstring& path = list->paths[data->Reserved - 1];
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(wchar_t));
    if (requiredBytes)
        *requiredBytes = needed;
    if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!detail || detailBytes < needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    path.copy(detail->DevicePath, path.size());
    detail->DevicePath[path.size()] = 0;
    return TRUE;
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    DeviceList* list = listOf(set);
    if (!list)
        return FALSE;
    list->tag = 0;
    delete list;
    openLists.fetch_sub(1);
    return TRUE;
}

// The device layer's objects call through the import pointers; these point
// them here, so the import library's entries are never needed.
decltype(&SetupDiGetClassDevsW) __imp_SetupDiGetClassDevsW = SetupDiGetClassDevsW;
decltype(&SetupDiEnumDeviceInterfaces) __imp_SetupDiEnumDeviceInterfaces =
    SetupDiEnumDeviceInterfaces;
decltype(&SetupDiGetDeviceInterfaceDetailW) __imp_SetupDiGetDeviceInterfaceDetailW =
    SetupDiGetDeviceInterfaceDetailW;
decltype(&SetupDiDestroyDeviceInfoList) __imp_SetupDiDestroyDeviceInfoList =
    SetupDiDestroyDeviceInfoList;

} // extern "C"
